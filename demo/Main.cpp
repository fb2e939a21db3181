// The splat-map painting demo: one form, read from its embedded resource,
// run until it closes.
//
// Options for unattended runs (the demo itself needs none):
//   --seconds N        close the form after N seconds
//   --screenshot FILE  after the run (3 seconds unless --seconds says), save the
//                      window's last frame (headless: the painted form) as PNG
//   --fps              print the viewport's frame statistics at the end

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "Korvane.Units.h"
#include "Korvane.Viewport.h"
#include "Platform.Bitmaps.h"
#include "Platform.Threads.h"
#include "Unit1.h"

using namespace korvane;

namespace {

struct TOptions {
    double Seconds = 0;
    std::string Screenshot;
    bool Fps = false;
};

int Usage(const char* AProgram)
{
    std::fprintf(stderr, "usage: %s [--seconds N] [--screenshot FILE.png] [--fps]\n", AProgram);
    return 2;
}

void SaveScreenshot(TForm2& AForm, const std::string& AFile)
{
    TOwned<TBitmap> shot = MakeOwned<TBitmap>();
    if (AForm.Window()) {
        AForm.PaintNow();
        AForm.Window()->Screenshot(*shot);
    } else {
        AForm.PaintToBitmap(*shot);
    }
    shot->SaveToFile(AFile);
    std::printf("screenshot: %s (%d x %d)\n", AFile.c_str(), shot->Width(), shot->Height());
}

void PrintFrameStatistics(const TKorvaneViewport& AViewport, double ASeconds)
{
    const TRenderingDiagnostics& d = AViewport.Diagnostics();
    const double perFrameMs =
        d.TotalFrames > 0 ? double(d.TotalFrameTimeInTicks) / double(d.TotalFrames) / TClock::TicksPerMillisecond : 0;
    std::printf("frames: %lld in %.1f s, %.1f frames per second delivered by the frame timer\n",
                static_cast<long long>(d.TotalFrames), ASeconds, ASeconds > 0 ? double(d.TotalFrames) / ASeconds : 0.0);
    std::printf("viewport average (last %lld frames): %.1f frames per second, frame time %.2f ms\n",
                static_cast<long long>(d.AverageFrameTimeClip), double(d.AverageFramesPerSecond),
                double(d.AverageFrameTime));
    std::printf("whole run: frame time %.2f ms on average, %.1f frames per second of rendering time\n", perFrameMs,
                perFrameMs > 0 ? 1000.0 / perFrameMs : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    TOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) options.Seconds = std::atof(argv[++i]);
        else if (arg == "--screenshot" && i + 1 < argc) options.Screenshot = argv[++i];
        else if (arg == "--fps") options.Fps = true;
        else return Usage(argv[0]);
    }
    if (!options.Screenshot.empty() && options.Seconds <= 0) options.Seconds = 3;

    try {
        TUnitsScope units;
        Application().Initialize();
        auto* form = Application().CreateForm<TForm2>();
        if (options.Fps) form->KorvaneViewport1->SetDiagnosticsActive(true);
        if (options.Seconds <= 0) {
            Application().Run();
            return 0;
        }
        const TStopwatch watch = TStopwatch::StartNew();
        form->Show();
        const int64_t until = int64_t(options.Seconds * 1000);
        while (!Application().Terminated() && form->Showing() && watch.ElapsedMilliseconds() < until) {
            const int64_t next = Application().NextTimerDelay();
            Application().HandleMessage(next < 0 ? 10 : int(std::min<int64_t>(next, 10)));
        }
        const double seconds = double(watch.ElapsedMilliseconds()) / 1000.0;
        if (!options.Screenshot.empty()) SaveScreenshot(*form, options.Screenshot);
        if (options.Fps) PrintFrameStatistics(*form->KorvaneViewport1, seconds);
        form->Close();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "demo: %s\n", e.what());
        return 1;
    }
    return 0;
}
