#pragma once
// A fresh folder per test under the system's temporary folder, removed afterwards (even when a
// test left it read-only), and the few file helpers the tests write and read files with. The tests
// never touch the program's own folders.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orv::test {

class TempFolder
{
public:
    // `prefix` starts the folder's name, so that a folder left behind says which tests made it.
    explicit TempFolder(std::string_view prefix = "orv-test-")
    {
        // A name nobody holds yet (create_directory reports whether this call made the folder).
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty() && !base.empty(); ++attempt) {
            const std::filesystem::path candidate = base / (std::string(prefix) + std::to_string(random()));
            if (std::filesystem::create_directory(candidate, ec)) {
                path_ = candidate;
            }
        }
        if (path_.empty()) {
            throw std::runtime_error("cannot make a temporary folder: " + ec.message());
        }
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

    std::size_t entryCount() const
    {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(path_), {}));
    }

private:
    std::filesystem::path path_;
};

inline void writeBytes(const std::filesystem::path& file, std::string_view bytes)
{
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A new file's lines end as the platform's own editors end them: CR LF on Windows.
inline std::string nativeLines(std::string_view text)
{
#ifdef _WIN32
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
#else
    return std::string(text);
#endif
}

// UTF-16LE with byte-order mark, for files as Windows editors save them.
inline std::string utf16le(std::u16string_view text)
{
    std::string out = "\xFF\xFE";
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

} // namespace orv::test
