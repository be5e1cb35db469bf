// How long making an icon file from a picture takes, and how much memory it holds,
// against decoding the same picture alone with the platform's imaging component (the
// floor: every road to an icon decodes the picture first). The pictures are made here
// with the platform's encoders: a 6000 x 4000 JPEG photo, a 1024 x 1024 PNG with alpha
// and a 64 x 64 PNG. Times are the best of three runs; the peak is the process's peak
// working set while making the icon, above the working set before it (the peak is fresh
// between measurements by running each in a process of its own). Then a folder colour:
// the median time of making a coloured folder icon inside a fresh folder, for several
// folders in turn. Each step runs under a time limit of its own (BenchStep.h), each
// measuring process too.
//
// Usage: orvane_picture_bench
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchStep.h"
#include "ComInitialization.h"
#include "FolderColourIcon.h"
#include "FolderIconMaker.h"
#include "PictureDecoder.h"
#include "PictureIcon.h"

namespace {

using Microsoft::WRL::ComPtr;

using Clock = std::chrono::steady_clock;
constexpr int Rounds = 3;
constexpr double MiB = 1024.0 * 1024.0;

// A photo-like picture: smooth colour fields with fine detail, so that JPEG and PNG
// compress it as they would a real one.
std::vector<BYTE> MakePixels(UINT width, UINT height, bool alpha)
{
    std::vector<BYTE> pixels(std::size_t{4} * width * height);
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x) {
            BYTE* p = pixels.data() + 4 * (std::size_t{y} * width + x);
            p[0] = static_cast<BYTE>(x * 255 / width);
            p[1] = static_cast<BYTE>(y * 255 / height);
            p[2] = static_cast<BYTE>(((x / 7) ^ (y / 5)) & 0xFF);
            p[3] = alpha ? static_cast<BYTE>(255 - std::min<UINT>(255, (x + y) * 255 / (width + height) * 2)) : 255;
        }
    return pixels;
}

bool Encode(const GUID& container, UINT width, UINT height, bool alpha, const std::wstring& path)
{
    std::vector<BYTE> pixels = MakePixels(width, height, alpha);
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    ComPtr<IWICBitmap> bitmap;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    return SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                      reinterpret_cast<void**>(factory.GetAddressOf()))) &&
           SUCCEEDED(factory->CreateStream(stream.GetAddressOf())) && SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
           SUCCEEDED(factory->CreateEncoder(container, nullptr, encoder.GetAddressOf())) &&
           SUCCEEDED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) &&
           SUCCEEDED(encoder->CreateNewFrame(frame.GetAddressOf(), options.GetAddressOf())) && SUCCEEDED(frame->Initialize(options.Get())) &&
           SUCCEEDED(frame->SetSize(width, height)) && SUCCEEDED(frame->SetPixelFormat(&format)) &&
           SUCCEEDED(factory->CreateBitmapFromMemory(width, height, GUID_WICPixelFormat32bppBGRA, 4 * width,
                                                     static_cast<UINT>(pixels.size()), pixels.data(), bitmap.GetAddressOf())) &&
           SUCCEEDED(frame->WriteSource(bitmap.Get(), nullptr)) && SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

struct Measure {
    double Milliseconds = 1e300;
    double PeakMiB = 0;
    // Every process gave its figures (one that failed or ran out of time gives none).
    bool Measured() const { return Milliseconds < 1e300; }
};

// One measurement in a process of its own ("--one icon|decode PICTURE"), as the peak
// working set of a process cannot be reset: it prints its time and its peak above its
// working set before the work (the imaging component already loaded).
int RunOne(const std::wstring& what, const std::wstring& picture)
{
    orvane::ComInitialization com;
    ComPtr<IWICImagingFactory> factory;
    CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                     reinterpret_cast<void**>(factory.GetAddressOf()));
    PROCESS_MEMORY_COUNTERS before = {};
    before.cb = sizeof before;
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    const auto start = Clock::now();
    bool done = false;
    if (what == L"icon") {
        done = orvane::MakeIconFromPicture(picture, picture + L".ico") == orvane::PictureProblem::None;
    } else {
        orvane::Picture pixels;
        done = orvane::DecodePicture(picture, pixels) == orvane::PictureProblem::None;
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    PROCESS_MEMORY_COUNTERS after = {};
    after.cb = sizeof after;
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
    DeleteFileW((picture + L".ico").c_str());
    std::printf("%f %f\n", ms, (static_cast<double>(after.PeakWorkingSetSize) - before.WorkingSetSize) / MiB);
    return done ? 0 : 1;
}

// The best time and the largest peak of Rounds processes.
Measure Run(const wchar_t* what, const std::wstring& picture)
{
    Measure measure;
    wchar_t self[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    for (int round = 0; round < Rounds; ++round) {
        std::wstring line = L"\"" + std::wstring(self) + L"\" --one " + what + L" \"" + picture + L"\"";
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE read = nullptr, write = nullptr;
        if (!CreatePipe(&read, &write, &inherit, 0))
            return {};
        SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = write;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION process = {};
        const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
        CloseHandle(write);
        std::string output;
        char buffer[256];
        DWORD got = 0;
        while (started && ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0)
            output.append(buffer, got);
        CloseHandle(read);
        if (!started)
            return {};
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        double ms = 0, peak = 0;
        if (std::sscanf(output.c_str(), "%lf %lf", &ms, &peak) != 2)
            return {};
        measure.Milliseconds = std::min(measure.Milliseconds, ms);
        measure.PeakMiB = std::max(measure.PeakMiB, peak);
    }
    return measure;
}

// The median milliseconds of colouring `folders` fresh folders below `parent`, through the
// palette in turn; a negative figure when one could not be made.
double ColourMilliseconds(const std::wstring& parent, int folders)
{
    std::vector<double> times;
    const std::vector<orvane::NamedColour>& palette = orvane::FolderPalette();
    for (int i = 0; i < folders; ++i) {
        const std::wstring folder = parent + L"\\folder" + std::to_wstring(i);
        if (!CreateDirectoryW(folder.c_str(), nullptr))
            return -1;
        std::wstring name;
        const auto start = Clock::now();
        const bool made = orvane::MakeFolderColourIcon(folder.c_str(), palette[i % palette.size()].Colour, &name);
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (made) {
            const std::wstring file = folder + L"\\" + name;
            SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(file.c_str());
        }
        RemoveDirectoryW(folder.c_str());
        if (!made)
            return -1;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    // One decode or icon of the photo takes under a second here.
    if (argc == 4 && std::wstring(argv[1]) == L"--one")
        return orvane::bench::RunStep(std::wstring(argv[2]) == L"icon" ? "one icon" : "one decode", 300,
                                      [&] { return RunOne(argv[2], argv[3]); });
    orvane::ComInitialization com;
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"orvane-picture-bench-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    const struct Case {
        const char* Name;
        const wchar_t* File;
        GUID Container;
        UINT Width, Height;
        bool Alpha;
    } cases[] = {
        {"photo.jpg", L"photo.jpg", GUID_ContainerFormatJpeg, 6000, 4000, false},
        {"logo.png", L"logo.png", GUID_ContainerFormatPng, 1024, 1024, true},
        {"small.png", L"small.png", GUID_ContainerFormatPng, 64, 64, true},
    };
    int status = 0;
    for (const Case& c : cases) {
        const std::wstring picture = folder + L"\\" + c.File;
        // Encoding the photo and six measuring processes take a few seconds here.
        Measure decode;
        Measure make;
        const bool encoded = orvane::bench::RunStep(std::string("picture ") + c.Name, 900, [&] {
            if (!Encode(c.Container, c.Width, c.Height, c.Alpha, picture))
                return false;
            // The floor first, so that the icon's peak is not hidden below the decoder's.
            decode = Run(L"decode", picture);
            make = Run(L"icon", picture);
            return true;
        });
        if (!encoded) {
            std::printf("picture %s: could not be made\n", c.Name);
            status = 1;
            continue;
        }
        if (!decode.Measured() || !make.Measured()) {
            std::printf("picture %s: a measuring process failed\n", c.Name);
            status = 1;
            DeleteFileW(picture.c_str());
            continue;
        }
        const double decodedMiB = 4.0 * c.Width * c.Height / MiB;
        std::printf("picture %s %ux%u: icon %.0f ms, decode alone %.0f ms, ratio %.2f, peak above start %.1f MiB, "
                    "decoded %.1f MiB\n",
                    c.Name, c.Width, c.Height, make.Milliseconds, decode.Milliseconds, make.Milliseconds / decode.Milliseconds,
                    make.PeakMiB, decodedMiB);
        DeleteFileW(picture.c_str());
    }
    // 15 folders take well under a second here.
    const double colour = orvane::bench::RunStep("colour", 300, [&] { return ColourMilliseconds(folder, 15); });
    if (colour < 0) {
        std::printf("colour: could not be made\n");
        status = 1;
    } else {
        std::printf("colour: %.1f ms per folder\n", colour);
    }
    RemoveDirectoryW(folder.c_str());
    return status;
}
