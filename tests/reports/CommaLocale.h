#pragma once
// A C library locale whose decimal mark is a comma, in effect for a scope,
// to show that numbers written for files and screens never follow it.
// Machines often carry only C and POSIX; then one is compiled once per
// process with localedef into a scratch folder and loaded from there.

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "TestSupport.h"

namespace vorel::test {

class CommaLocale {
public:
    CommaLocale() {
        old_ = std::setlocale(LC_ALL, nullptr);
        active_ = tryInstalled() || tryCompiled();
    }
    ~CommaLocale() { std::setlocale(LC_ALL, old_.c_str()); }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    bool active() const { return active_; }

private:
    static bool usesComma() { return std::string(std::localeconv()->decimal_point) == ","; }
    static bool trySet(const char* name) { return std::setlocale(LC_ALL, name) && usesComma(); }

    static bool tryInstalled() {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8"})
            if (trySet(name)) return true;
        return false;
    }

    static bool tryCompiled() {
        static TempDir* folder = [] {
            auto* d = new TempDir;
            const std::string cmd = "localedef -i de_DE -f UTF-8 '" + d->file("de_DE.UTF-8") + "' >/dev/null 2>&1";
            (void)std::system(cmd.c_str());
            return d;
        }();
        // The C library reads LOCPATH while it loads a locale; the loaded
        // data stay when it is gone again.
        const char* before = std::getenv("LOCPATH");
        const std::string saved = before ? before : "";
        ::setenv("LOCPATH", folder->path().c_str(), 1);
        const bool ok = trySet("de_DE.UTF-8");
        if (before) ::setenv("LOCPATH", saved.c_str(), 1);
        else ::unsetenv("LOCPATH");
        return ok;
    }

    std::string old_;
    bool active_ = false;
};

}  // namespace vorel::test
