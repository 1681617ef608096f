/*
 * Log lines per second through the log file sink, and the same lines through spdlog's
 * basic file sink flushing every line, in the same run. Both write one line per call
 * with a local time stamp to a file in /tmp and hand it to the kernel before returning.
 */
#include <benchmark/benchmark.h>

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVmutex.h"

namespace
{

std::string bench_dir()
{
    static std::string dir = [] {
        char templ[] = "/tmp/qv-bench-XXXXXX";
        return std::string(mkdtemp(templ));
    }();
    return dir;
}

void BM_QvLogThroughFileSink(benchmark::State &state)
{
    static QVLogSink sink{};
    static bool installed = [] {
        setenv("QV_LOGFILE_NAME_PATTERN", (bench_dir() + "/%s.log").c_str(), 1);
        if (qv_logger_create(&sink) != 0)
            return false;
        qv_log_set_sink(&sink); /* the banner and the report, once */
        return true;
    }();
    if (!installed) {
        state.SkipWithError("the log file could not be created");
        return;
    }
    int64_t n = 0;
    for (auto _ : state)
        qv_log(QV_LOG_INFO, "Creating service account %s at level %d (%lld)", "QuOrvAneIndeX", 3,
               static_cast<long long>(n++));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QvLogThroughFileSink);

void BM_SpdlogBasicFileSinkFlushEveryLine(benchmark::State &state)
{
    static std::shared_ptr<spdlog::logger> logger = [] {
        auto l = spdlog::basic_logger_mt("bench", bench_dir() + "/spdlog.log", true);
        /* the same layout: local time, month first, thread id, level, message */
        l->set_pattern("%m/%d/%Y %H:%M:%S.%e: %v");
        l->flush_on(spdlog::level::trace);
        return l;
    }();
    uint32_t thread = qv_thread_id();
    int64_t n = 0;
    for (auto _ : state)
        logger->info("{:08x} INFO   : Creating service account {} at level {} ({})", thread,
                     "QuOrvAneIndeX", 3, n++);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SpdlogBasicFileSinkFlushEveryLine);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(bench_dir(), ignored); /* the two log files */
    return 0;
}
