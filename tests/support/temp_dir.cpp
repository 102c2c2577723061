#include "tests/support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace orvik_test {
namespace {

fs::path fromUtf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string toUtf8(const fs::path& path) {
    const std::u8string u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

}  // namespace

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    std::ostringstream name;
    name << "orvik-test-" << random() << '-' << counter++;
    const fs::path dir = fs::temp_directory_path() / name.str();
    fs::create_directories(dir);
    path_ = toUtf8(dir.lexically_normal());
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(fromUtf8(path_), ignored);
}

std::string TempDir::file(const std::string& relative) const {
    return toUtf8((fromUtf8(path_) / fromUtf8(relative)).make_preferred());
}

void TempDir::write(const std::string& relative, const std::string& bytes) const {
    const fs::path target = fromUtf8(file(relative));
    fs::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TempDir::read(const std::string& relative) const {
    std::ifstream in(fromUtf8(file(relative)), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool TempDir::exists(const std::string& relative) const {
    std::error_code ignored;
    return fs::exists(fromUtf8(file(relative)), ignored);
}

}  // namespace orvik_test
