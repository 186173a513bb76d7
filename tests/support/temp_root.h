// A private KELVORA_ROOT for one test: a fresh directory, removed with everything in it (and
// the message queues keyed on it) when the test ends.
#pragma once

#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class TempRoot {
  public:
    TempRoot() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "kelvora-test-XXXXXX").string();
        dir_ = mkdtemp(tmpl.data());
        chmod(dir_.c_str(), 0755);  // ftok() of an unprivileged user must be able to stat it
        setenv("KELVORA_ROOT", dir_.c_str(), 1);
    }
    ~TempRoot() {
        for (int id = '1'; id <= '5'; ++id) {
            key_t key = ftok(dir_.c_str(), id);
            int q = key == -1 ? -1 : msgget(key, 0);
            if (q >= 0) msgctl(q, IPC_RMID, nullptr);
        }
        unsetenv("KELVORA_ROOT");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::string& dir() const { return dir_; }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    std::string Read(const std::string& name) const {
        std::ifstream in(Path(name), std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    void Write(const std::string& name, const std::string& data) const {
        std::ofstream(Path(name), std::ios::binary | std::ios::trunc) << data;
    }

  private:
    std::string dir_;
};
