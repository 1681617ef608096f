/*
 * TestFiles: temporary directories, whole-file reads and writes, and environment
 * variables set for a while, for tests.
 */
#ifndef TESTS_SUPPORT_TESTFILES_H
#define TESTS_SUPPORT_TESTFILES_H

#include <string>

/* A new, empty directory under /tmp (on Windows, in the folder for temporary files),
 * removed with everything in it when the object goes. */
class TempDir
{
  public:
    explicit TempDir(const char *prefix = "qv-test");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const
    {
        return path_;
    }
    /* Writes content to the file name inside the directory; returns its path. */
    std::string file(const std::string &name, const std::string &content) const;
    /* Makes the directory name (and its parents) inside; returns its path. */
    std::string dir(const std::string &name) const;

  private:
    std::string path_;
};

/* The whole content of the file at path; empty when it cannot be read. */
std::string read_file(const std::string &path);

/* Replaces the file at path by content. */
void write_file(const std::string &path, const std::string &content);

/* Sets (value) or removes (null) the environment variable name for its lifetime; the
 * former value, or its absence, comes back afterwards. It calls nothing else (no
 * tzset()): what reads the variable must notice the change on its own. */
class ScopedEnv
{
  public:
    ScopedEnv(const char *name, const char *value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

  private:
    std::string name_;
    bool had_;
    std::string saved_;
};

#endif
