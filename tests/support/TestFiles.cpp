#include "tests/support/TestFiles.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/TestPlatform.h"

TempDir::TempDir(const char *prefix) : path_(make_temp_dir(prefix))
{
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::file(const std::string &name, const std::string &content) const
{
    std::string p = path_ + "/" + name;
    write_file(p, content);
    return p;
}

std::string TempDir::dir(const std::string &name) const
{
    std::string p = path_ + "/" + name;
    std::filesystem::create_directories(p);
    return p;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name)
{
    const char *old = getenv(name);
    had_ = old != nullptr;
    if (had_)
        saved_ = old;
    set_env(name, value);
}

ScopedEnv::~ScopedEnv()
{
    set_env(name_.c_str(), had_ ? saved_.c_str() : nullptr);
}
