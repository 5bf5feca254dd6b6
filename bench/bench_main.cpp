// The benchmark program: every registered comparison, single-threaded but
// for saving PNG, which uses every core by design.
#include "bench_registry.h"

#include <benchmark/benchmark.h>

#include <QImageReader>

#ifdef PW_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

int main(int argc, char **argv)
{
    // Qt refuses pictures over 256 MiB unless told otherwise.
    QImageReader::setAllocationLimit(0);
#ifdef PW_HAVE_OPENCV
    cv::setNumThreads(1);
#endif
    bench::RegisterPixelOperations();
    bench::RegisterConversions();
    bench::RegisterPixelAccess();
    bench::RegisterBmp();
    bench::RegisterView();
    bench::RegisterPhotograph();
    bench::RegisterPhoneFormats();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
