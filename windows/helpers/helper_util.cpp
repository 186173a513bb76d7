#include "helper_util.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace helpers {

namespace {

bool Spawn(const std::vector<std::string>& argv, pid_t& pid) {
    if (argv.empty()) return false;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) == 0;
}

}  // namespace

std::string JoinArguments(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    return text;
}

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

int RunAndWait(const std::vector<std::string>& argv) {
    pid_t pid = 0;
    if (!Spawn(argv, pid)) return 127;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 127;
}

bool Start(const std::vector<std::string>& argv) {
    pid_t pid = 0;
    return Spawn(argv, pid);
}

std::string Printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        bool keep = (c >= 0x20 && c != 0x7f) || c == '\n' || c == '\t';
        out += keep ? static_cast<char>(c) : '?';
    }
    return out;
}

}  // namespace helpers
