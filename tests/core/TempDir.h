#pragma once

// A fresh directory under the system's temporary directory, removed with
// everything in it when it goes out of scope. Paths use '/', which both
// Linux and Windows accept.

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

class CTempDir {
public:
    explicit CTempDir(const std::string& prefix = "vorla-test")
    {
        namespace fs = std::filesystem;
        std::random_device seed;
        std::mt19937 random(seed());
        const fs::path base = fs::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const fs::path candidate = base / (prefix + "-" + std::to_string(random()));
            std::error_code ec;
            if (fs::create_directory(candidate, ec)) {
                m_path = candidate.generic_string();
                return;
            }
        }
        throw std::runtime_error("cannot make a temporary directory under " + base.string());
    }
    ~CTempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};
