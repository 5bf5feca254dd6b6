// The benchmark program: every registered comparison. Ours runs on every
// core, and held to one thread beside it; OpenCV's peers set their threads
// themselves, one otherwise.
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
    bench::RegisterScalingReferences();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
