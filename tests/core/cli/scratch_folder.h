#pragma once
// A fresh folder per test for setup files, inventories and exports; removed afterwards.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

namespace orv::test {

class ScratchFolder
{
public:
    ScratchFolder()
    {
        std::random_device device;
        for (;;) {
            path_ = std::filesystem::temp_directory_path() / ("orv-cli-" + std::to_string(device()));
            if (std::filesystem::create_directory(path_)) {
                break;
            }
        }
    }
    ~ScratchFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline void writeFile(const std::filesystem::path& file, std::string_view bytes)
{
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace orv::test
