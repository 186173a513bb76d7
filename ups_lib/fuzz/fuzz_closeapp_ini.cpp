// CLOSEAPP.INI parsing: any text gives a bounded report, and setting a key keeps the file
// readable with the new value in place.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ups_lib/close_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto ini = ups::IniFile::Parse(text);
    ups::CCloseInfo info;
    info.LoadFrom(ini);
    // One entry at most per line of the file.
    if (info.apps.size() > size + 1) std::abort();
    for (const auto& f : info.files) {
        if (f.size() > size + 1) std::abort();
    }
    ini.Set("Main", "ShowMsg", "0");
    const auto reread = ups::IniFile::Parse(ini.Text());
    if (reread.GetInt("Main", "ShowMsg", 7) != 0 && ini.GetInt("Main", "ShowMsg", 7) == 0)
        std::abort();
    return 0;
}
