// tvf2 measure: the thresholded second-difference energy of two pictures or two streams
// frame by frame (module slots 6, 7, 8 and 10: SecondDifferenceEnergy_C32 / _C64 /
// _YUY2 / _SemiPlanar8). Prints totals; writes no file.
//
// The operation reads rows y and y + 1 of A and row y of B, so a picture of H rows is
// measured over its first H - 1 rows (every row of A is read, the last row of B is not).
#include "command.h"
#include "convert.h"
#include "device_cache.h"
#include "errors.h"
#include "file_io.h"
#include "filter_job.h"
#include "png_io.h"
#include "y4m.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace tvf2 {
namespace {

constexpr int kOne = 16384;  // 1.0 in the matrix's 14-bit fixed point

enum class EnergyLayout { C32, C64, YUY2, SemiPlanar8 };

const char* SlotName(EnergyLayout l) {
    switch (l) {
    case EnergyLayout::C32: return "SecondDifferenceEnergy_C32";
    case EnergyLayout::C64: return "SecondDifferenceEnergy_C64";
    case EnergyLayout::YUY2: return "SecondDifferenceEnergy_YUY2";
    case EnergyLayout::SemiPlanar8: return "SecondDifferenceEnergy_SemiPlanar8";
    }
    return "?";
}

struct MeasureParams {
    int m[9] = {kOne, 0, 0, 0, kOne, 0, 0, 0, kOne};
    int threshold = 0;
    bool halved = false;
};

// One image as the slot reads it: packed rows, or a luma plane and an interleaved U V
// plane. Rows are tightly packed.
struct HostImage {
    std::vector<uint8_t> main, chroma;
    size_t mainPitch = 0, chromaPitch = 0;
    int mainRows = 0, chromaRows = 0;
};

// The semi-planar form of a 4:2:0 frame. Halved: the chroma rows as they are (image row
// y reads chroma row y / 2), A's with its last row repeated once, since A is read one
// chroma row further down; otherwise one chroma row per image row (row y takes chroma
// row y / 2, as the YUY2 conversion pairs them).
HostImage FrameToSemiPlanar(const Y4mHeader& h, const Y4mFrame& f, bool halved, bool isA) {
    HostImage img;
    img.mainPitch = h.width;
    img.mainRows = h.height;
    img.main.assign(f.Y(), f.Y() + h.LumaBytes());
    const int cw = h.ChromaWidth();
    img.chromaPitch = 2 * static_cast<size_t>(cw);
    img.chromaRows = halved ? h.ChromaHeight() + (isA ? 1 : 0) : h.height;
    img.chroma.resize(img.chromaPitch * img.chromaRows);
    for (int r = 0; r < img.chromaRows; ++r) {
        int c = halved ? r : r / 2;
        if (c >= h.ChromaHeight()) c = h.ChromaHeight() - 1;
        const uint8_t* u = f.U(h) + static_cast<size_t>(c) * cw;
        const uint8_t* v = f.V(h) + static_cast<size_t>(c) * cw;
        uint8_t* d = img.chroma.data() + r * img.chromaPitch;
        for (int i = 0; i < cw; ++i) {
            d[2 * i] = u[i];
            d[2 * i + 1] = v[i];
        }
    }
    return img;
}

HostImage PictureToHost(const Image& pic) {
    HostImage img;
    const int bpp = pic.bitDepth == 16 ? 8 : 4;
    img.mainPitch = static_cast<size_t>(pic.width) * bpp;
    img.mainRows = pic.height;
    img.main.resize(img.mainPitch * pic.height);
    if (pic.bitDepth == 16)
        ImageToC64(pic, img.main.data(), img.mainPitch);
    else
        ImageToC32(pic, img.main.data(), img.mainPitch);
    return img;
}

// The device side: A's and B's images, the partial-sum buffer and the host buffer,
// allocated once for all frames of a run.
class Measurer {
public:
    Measurer(Backend& backend, EnergyLayout layout, int width, int height, const HostImage& like,
             const MeasureParams& p)
        : backend_(backend), layout_(layout), width_(width), height_(height), p_(p) {
        const int mainBpp = layout == EnergyLayout::C32 ? 4 : layout == EnergyLayout::C64 ? 8
                            : layout == EnergyLayout::YUY2 ? 2 : 1;
        for (int k = 0; k < 2; ++k) {
            main_[k].reset(new DeviceImage(backend, width, like.mainRows, mainBpp));
            if (layout == EnergyLayout::SemiPlanar8)
                chroma_[k].reset(new DeviceImage(backend, static_cast<int>(like.chromaPitch / 2),
                                                 like.chromaRows + (k == 0 && p.halved ? 1 : 0), 2));
        }
        const int units = layout == EnergyLayout::C32 || layout == EnergyLayout::C64 ? width : width / 2;
        const size_t bytes = backend.Funcs().GetScratchSize(units, height - 1);
        partial_.reset(new DeviceBuffer(backend, bytes));
        host_.assign(bytes / 8, 0);
    }

    int64_t Measure(const HostImage& a, const HostImage& b) {
        const HostImage* images[2] = {&a, &b};
        for (int k = 0; k < 2; ++k) {
            const HostImage& img = *images[k];
            backend_.Upload(main_[k]->Data(), main_[k]->Pitch(), img.main.data(), img.mainPitch,
                            img.mainPitch, img.mainRows);
            if (chroma_[k])
                backend_.Upload(chroma_[k]->Data(), chroma_[k]->Pitch(), img.chroma.data(),
                                img.chromaPitch, img.chromaPitch, img.chromaRows);
        }
        ICUDAKernelFuncSet_TarvoVideoFilter2& f = backend_.Funcs();
        const int* m = p_.m;
        const int bytes = static_cast<int>(host_.size() * 8);
        int64_t total = 0;
        int status;
        if (layout_ == EnergyLayout::SemiPlanar8) {
            status = f.SecondDifferenceEnergy_SemiPlanar8(
                main_[0]->Data(), main_[0]->Pitch(), main_[1]->Data(), main_[1]->Pitch(),
                chroma_[0]->Data(), chroma_[0]->Pitch(), chroma_[1]->Data(), chroma_[1]->Pitch(),
                width_, height_ - 1, p_.halved, m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7],
                m[8], p_.threshold, partial_->Data(), host_.data(), bytes, &total);
        } else {
            typedef int (ICUDAKernelFuncSet_TarvoVideoFilter2::*Slot)(
                const void*, int, const void*, int, int, int, int, int, int, int, int, int, int,
                int, int, int, void*, int64_t*, int, int64_t*);
            const Slot slot = layout_ == EnergyLayout::C32   ? &ICUDAKernelFuncSet_TarvoVideoFilter2::SecondDifferenceEnergy_C32
                              : layout_ == EnergyLayout::C64 ? &ICUDAKernelFuncSet_TarvoVideoFilter2::SecondDifferenceEnergy_C64
                                                             : &ICUDAKernelFuncSet_TarvoVideoFilter2::SecondDifferenceEnergy_YUY2;
            status = (f.*slot)(main_[0]->Data(), main_[0]->Pitch(), main_[1]->Data(),
                               main_[1]->Pitch(), width_, height_ - 1, m[0], m[1], m[2], m[3],
                               m[4], m[5], m[6], m[7], m[8], p_.threshold, partial_->Data(),
                               host_.data(), bytes, &total);
        }
        Backend::Check(status, SlotName(layout_));
        return total;
    }

private:
    Backend& backend_;
    EnergyLayout layout_;
    int width_, height_;
    MeasureParams p_;
    std::unique_ptr<DeviceImage> main_[2], chroma_[2];
    std::unique_ptr<DeviceBuffer> partial_;
    std::vector<int64_t> host_;
};

// Nothing reaches stdout before the first total, so that a run that fails early prints
// only its error line.
class Printer {
public:
    explicit Printer(bool csv) : csv_(csv) {}
    void Row(long long frame, int64_t total) {
        Header();
        std::printf(csv_ ? "%lld,%lld\n" : "%lld %lld\n", frame, static_cast<long long>(total));
        std::fflush(stdout);  // a long stream shows its totals as they come
    }
    void Finish() { Header(); }  // CSV of a stream without frames: the header alone

private:
    void Header() {
        if (csv_ && !headed_) std::printf("frame,total\n");
        headed_ = true;
    }
    bool csv_, headed_ = false;
};

void CheckSize(const std::string& name, int width, int height, int minWidth) {
    if (height < 2)
        throw Failure(name + ": " + std::to_string(height) +
                      " row; the measurement reads each row with the one below, so it needs at "
                      "least 2 rows");
    if (width < minWidth)
        throw Failure(name + ": width " + std::to_string(width) + " is below " +
                      std::to_string(minWidth) + " pixels (one pixel pair)");
}

void MeasurePictures(Context& context, InputFile& inA, InputFile& inB, const MeasureParams& p,
                     Printer& printer) {
    if (p.halved) throw UsageError("--halved applies to 4:2:0 YUV4MPEG2 streams only");
    const Image a = ReadPng(inA);
    const Image b = ReadPng(inB);
    if (a.width != b.width || a.height != b.height || a.bitDepth != b.bitDepth)
        throw Failure(inA.Name() + " and " + inB.Name() + " differ in size or depth (" +
                      std::to_string(a.width) + "x" + std::to_string(a.height) + " " +
                      std::to_string(a.bitDepth) + "-bit, " + std::to_string(b.width) + "x" +
                      std::to_string(b.height) + " " + std::to_string(b.bitDepth) + "-bit)");
    CheckSize(inA.Name(), a.width, a.height, 1);
    const EnergyLayout layout = a.bitDepth == 16 ? EnergyLayout::C64 : EnergyLayout::C32;
    context.Note(std::string("measuring as ") + SlotName(layout));
    const HostImage ha = PictureToHost(a), hb = PictureToHost(b);
    Measurer measurer(context.GetBackend(), layout, a.width, a.height, ha, p);
    printer.Row(0, measurer.Measure(ha, hb));
}

// Streams: the layout from the chroma format; 4:4:4 goes in as YUY2, each chroma pair
// averaged.
EnergyLayout StreamLayout(const Y4mHeader& h, const std::string& name, const MeasureParams& p) {
    if (h.chroma != Chroma::C420 && p.halved)
        throw UsageError("--halved applies to 4:2:0 YUV4MPEG2 streams only");
    CheckSize(name, h.width, h.height, 2);
    if (h.chroma == Chroma::C420) return EnergyLayout::SemiPlanar8;
    if (h.width % 2 != 0)
        throw Failure(name + ": frame width " + std::to_string(h.width) +
                      " is odd; 4:2:2 and 4:4:4 frames are measured as YUY2 pixel pairs, which "
                      "needs an even width");
    return EnergyLayout::YUY2;
}

HostImage FrameToHost(EnergyLayout layout, const Y4mHeader& h, const Y4mFrame& f,
                      const MeasureParams& p, bool isA) {
    if (layout == EnergyLayout::SemiPlanar8) return FrameToSemiPlanar(h, f, p.halved, isA);
    HostImage img;
    img.mainPitch = static_cast<size_t>(h.width) * 2;
    img.mainRows = h.height;
    img.main.resize(img.mainPitch * h.height);
    FrameToYUY2(h, f, img.main.data(), img.mainPitch);
    return img;
}

void MeasureStreams(Context& context, InputFile& inA, InputFile* inB, const MeasureParams& p,
                    long long maxFrames, Printer& printer) {
    Y4mReader ra(inA);
    std::unique_ptr<Y4mReader> rb;
    const Y4mHeader& h = ra.Header();
    const EnergyLayout layout = StreamLayout(h, inA.Name(), p);
    if (inB) {
        rb.reset(new Y4mReader(*inB));
        const Y4mHeader& hb = rb->Header();
        if (hb.width != h.width || hb.height != h.height || hb.chroma != h.chroma)
            throw Failure(inA.Name() + " and " + inB->Name() +
                          " differ in frame size or chroma format");
    }
    context.Note(std::string("measuring as ") + SlotName(layout) +
                 (layout == EnergyLayout::SemiPlanar8
                      ? (p.halved ? " with halved chroma rows" : " with one chroma row per row")
                      : ""));
    Backend& backend = context.GetBackend();
    Y4mFrame fa, fb;
    std::unique_ptr<Measurer> measurer;
    long long n = 0;
    if (!inB && !ra.ReadFrame(fb)) return;  // consecutive: frame n + 1 is B
    for (; maxFrames < 0 || n < maxFrames; ++n) {
        if (!inB) {
            fa.data.swap(fb.data);
            if (!ra.ReadFrame(fb)) break;
        } else {
            const bool gotA = ra.ReadFrame(fa);
            const bool gotB = rb->ReadFrame(fb);
            if (gotA != gotB)
                throw Failure((gotA ? inB->Name() : inA.Name()) + " ended after " +
                              std::to_string(n) + " frames, " +
                              (gotA ? inA.Name() : inB->Name()) + " has more");
            if (!gotA) break;
        }
        const HostImage a = FrameToHost(layout, h, fa, p, true);
        const HostImage b = FrameToHost(layout, h, fb, p, false);
        if (!measurer) measurer.reset(new Measurer(backend, layout, h.width, h.height, b, p));
        printer.Row(n, measurer->Measure(a, b));
    }
    context.Note(std::to_string(n) + " frame" + (n == 1 ? "" : "s") + " measured");
}

// "a,b,c,d,e,f,g,h,i": nine 32-bit integers.
void ParseMatrix(const std::string& text, int* m) {
    size_t at = 0;
    for (int k = 0; k < 9; ++k) {
        const size_t comma = text.find(',', at);
        if ((k < 8) != (comma != std::string::npos))
            throw UsageError("--matrix '" + text + "': give nine integers separated by commas");
        const std::string part = text.substr(at, k < 8 ? comma - at : std::string::npos);
        m[k] = static_cast<int>(ParseInteger("--matrix entry " + std::to_string(k + 1), part,
                                             INT_MIN, INT_MAX));
        at = comma + 1;
    }
}

int RunMeasure(const ParsedArgs& args, Context& context);

const Command kMeasure = {
    "measure",
    "Print the thresholded second-difference energy of two pictures or streams",
    "measure [--matrix M] [--threshold T] [--halved] [--csv] A B\n"
    "       tvf2 measure --consecutive [options] STREAM",
    "A and B are two PNG pictures of the same size and depth, or two YUV4MPEG2 streams\n"
    "of the same frame size and chroma format, measured frame by frame ('-' reads one\n"
    "of them from stdin). With --consecutive, each frame n of STREAM is A and frame n + 1\n"
    "is B. Per position and component, d = A(row y) + A(row y + 1) - 2 B(row y); the\n"
    "three differences go through the matrix (14 fractional bits: 16384 is 1.0), each\n"
    "result is squared, squares below T * T are dropped and the rest summed. A picture\n"
    "of H rows is measured over rows 0 .. H - 2 (A's last row is read as row y + 1).\n"
    "Prints one line per frame, 'FRAME TOTAL', or CSV with --csv; writes no file.\n"
    "8-bit PNG runs as C32 (components B, G, R; grey in all three), 16-bit PNG as C64\n"
    "(lanes hold v >> 1), 4:2:2 and 4:4:4 YUV4MPEG2 as YUY2 (Y0 + Y1, U, V per pixel\n"
    "pair; 4:4:4 chroma pairs averaged), 4:2:0 as SemiPlanar8.\n",
    {
        {"matrix", 'm', "M", "m00,m01,...,m22: nine integers (default the identity)"},
        {"threshold", 't', "T", "drop squares below T * T (default 0: keep all)"},
        {"halved", 0, nullptr, "4:2:0: pair row y with chroma row y / 2 in the slot"},
        {"consecutive", 0, nullptr, "measure each frame of one stream against the next"},
        {"csv", 0, nullptr, "print CSV: frame,total"},
        {"frames", 0, "N", "stop after N frames (pairs with --consecutive)"},
    },
    true,
    "C32 (8-bit PNG), C64 (16-bit PNG), YUY2 (YUV4MPEG2 4:2:2, 4:4:4), SemiPlanar8 "
    "(YUV4MPEG2 4:2:0)",
    RunMeasure,
};

const Registration kRegistration(kMeasure);

int RunMeasure(const ParsedArgs& args, Context& context) {
    MeasureParams p;
    const bool consecutive = args.Has("consecutive");
    ExpectPositional(args, kMeasure, consecutive ? 1 : 2);
    if (args.Has("matrix")) ParseMatrix(args.Value("matrix"), p.m);
    if (args.Has("threshold"))
        p.threshold = static_cast<int>(
            ParseInteger("--threshold", args.Value("threshold"), INT_MIN, INT_MAX));
    p.halved = args.Has("halved");
    long long maxFrames = -1;
    if (args.Has("frames")) maxFrames = ParseInteger("--frames", args.Value("frames"), 1, LLONG_MAX);
    const std::vector<std::string>& names = args.Positional();
    if (!consecutive && names[0] == "-" && names[1] == "-")
        throw UsageError("only one of A and B can be read from stdin");

    InputFile inA(names[0]);
    const InputFormat format = SniffFormat(inA);
    std::unique_ptr<InputFile> inB;
    if (!consecutive) {
        inB.reset(new InputFile(names[1]));
        if (SniffFormat(*inB) != format)
            throw Failure(inA.Name() + " and " + inB->Name() +
                          " are not both PNG pictures or both YUV4MPEG2 streams");
    }
    if (consecutive && format == InputFormat::Png)
        throw UsageError("--consecutive needs a YUV4MPEG2 stream, not a PNG picture");
    if (format == InputFormat::Png && args.Has("frames"))
        throw UsageError("--frames applies to YUV4MPEG2 streams only");
    Printer printer(args.Has("csv"));
    if (format == InputFormat::Png)
        MeasurePictures(context, inA, *inB, p, printer);
    else
        MeasureStreams(context, inA, inB.get(), p, maxFrames, printer);
    printer.Finish();
    return kExitOk;
}

}  // namespace
}  // namespace tvf2
