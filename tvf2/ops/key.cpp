// tvf2 key: colour keying. A mask measures how far each pixel's colour lies from a key
// colour (module slots 22, 23: KeyMaskProduct_YUV32 / KeyMaskGated_YUV32); optionally the
// key's colour cast is taken out of pixels near it (slot 24, SuppressKeyChroma_YUV32);
// then the mask becomes the picture's alpha (slots 25, 26), fades the keyed pixels' chroma
// (slots 29, 30) or is written itself as a grey picture (slots 27, 28).
#include "colour.h"
#include "command.h"
#include "convert.h"
#include "device_cache.h"
#include "errors.h"
#include "filter_job.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace tvf2 {
namespace {

enum class KeyOutput { Auto, Alpha, Fade, Mask };

struct KeyParams {
    ColourArg key;
    bool gated = false;
    float exponent = 1.0f, scale = 0.02f, lumaWeight = 1.0f;
    bool suppress = false, suppressAll = false;
    float radius = 0.0f, strength = 1.0f;
    KeyOutput output = KeyOutput::Auto;
    bool invert = false;
};

typedef int (ICUDAKernelFuncSet_TarvoVideoFilter2::*MaskSlot)(int, int, void*, int, const void*, int);

class KeyFilter final : public PictureFilter {
public:
    explicit KeyFilter(const KeyParams& p) : p_(p) {}

    void FilterPicture(Context& context, Image& img) override {
        if (img.bitDepth == 16) {
            context.Note("warning: the picture has 16-bit samples; keying works on 8-bit YUV32, "
                         "so they are converted to 8 bits and the output is 8-bit");
            img = To8Bit(img);
        }
        const size_t pitch = static_cast<size_t>(img.width) * 4;
        std::vector<uint8_t> host(pitch * img.height);
        ImageToYUV32(img, host.data(), pitch);
        const std::vector<uint8_t> before = host;
        const KeyOutput output = p_.output == KeyOutput::Auto ? KeyOutput::Alpha : p_.output;
        Key(context, false, output, img.width, img.height, host.data(), pitch);
        Image out = img;
        out.channels = output == KeyOutput::Mask    ? 1
                       : output == KeyOutput::Alpha ? (img.IsGrey() ? 2 : 4)
                                                    : img.channels;
        out.data.assign(out.RowBytes() * out.height, 0);
        YUV32ToImage(host.data(), pitch, before.data(), img, out);
        img = std::move(out);
    }

    // A stream has no alpha: the mask fades the chroma unless it is asked for itself.
    void FilterFrame(Context& context, const Y4mHeader& h, Y4mFrame& frame) override {
        const size_t pitch = static_cast<size_t>(h.width) * 4;
        host_.resize(pitch * h.height);
        FrameToYUV32(h, frame, host_.data(), pitch);
        const KeyOutput output = p_.output == KeyOutput::Mask ? KeyOutput::Mask : KeyOutput::Fade;
        Key(context, true, output, h.width, h.height, host_.data(), pitch);
        YUV32ToFrame(host_.data(), pitch, h, frame);
    }

private:
    void Key(Context& context, bool stream, KeyOutput output, int w, int h, uint8_t* host,
             size_t hostPitch) {
        Backend& backend = context.GetBackend();
        if (!cache_) cache_.reset(new DeviceCache(backend));
        DeviceImage& frame = cache_->Image("frame", w, h, 4);
        DeviceImage& mask = cache_->Image("mask", w, h, 1);
        backend.Upload(frame.Data(), frame.Pitch(), host, hostPitch, frame.RowBytes(), h);
        ICUDAKernelFuncSet_TarvoVideoFilter2& m = backend.Funcs();
        double ky, ku, kv;
        ColourToYuv(p_.key, stream, ky, ku, kv);
        const float keyY = float(ky), keyU = float(ku - 128), keyV = float(kv - 128);
        // One scale for both forms of the distance terms: linear and power.
        if (p_.gated)
            Backend::Check(m.KeyMaskGated_YUV32(w, h, 0.0f, p_.exponent, keyY, keyU, keyV, p_.scale,
                                                p_.lumaWeight, p_.scale, frame.Data(), frame.Pitch(),
                                                mask.Data(), mask.Pitch()),
                           "KeyMaskGated_YUV32");
        else
            Backend::Check(m.KeyMaskProduct_YUV32(w, h, 0.0f, p_.exponent, keyY, keyU, keyV,
                                                  p_.scale, p_.lumaWeight, p_.scale, frame.Data(),
                                                  frame.Pitch(), mask.Data(), mask.Pitch()),
                           "KeyMaskProduct_YUV32");
        if (p_.suppress) {
            // The strengths that take the whole key-direction component out, scaled.
            const double k2 = double(keyU) * keyU + double(keyV) * keyV;
            const float su = float(p_.strength * keyU / k2), sv = float(p_.strength * keyV / k2);
            Backend::Check(m.SuppressKeyChroma_YUV32(w, h, p_.radius, keyU, keyV, su, sv,
                                                     p_.suppressAll, frame.Data(), frame.Pitch()),
                           "SuppressKeyChroma_YUV32");
        }
        typedef ICUDAKernelFuncSet_TarvoVideoFilter2 F;
        MaskSlot slot;
        const char* name;
        switch (output) {
        case KeyOutput::Mask:
            slot = p_.invert ? &F::ShowInverseMask_YUV32A : &F::ShowMask_YUV32A;
            name = p_.invert ? "ShowInverseMask_YUV32A" : "ShowMask_YUV32A";
            break;
        case KeyOutput::Fade:
            slot = p_.invert ? &F::FadeChromaByInverseMask_YUV32 : &F::FadeChromaByMask_YUV32;
            name = p_.invert ? "FadeChromaByInverseMask_YUV32" : "FadeChromaByMask_YUV32";
            break;
        default:
            slot = p_.invert ? &F::MultiplyAlphaByInverseMask_YUV32A : &F::MultiplyAlphaByMask_YUV32A;
            name = p_.invert ? "MultiplyAlphaByInverseMask_YUV32A" : "MultiplyAlphaByMask_YUV32A";
            break;
        }
        Backend::Check((m.*slot)(w, h, frame.Data(), frame.Pitch(), mask.Data(), mask.Pitch()), name);
        backend.Download(host, hostPitch, frame.Data(), frame.Pitch(), frame.RowBytes(), h);
    }

    KeyParams p_;
    std::unique_ptr<DeviceCache> cache_;
    std::vector<uint8_t> host_;
};

int RunKey(const ParsedArgs& args, Context& context);

const Command kKey = {
    "key",
    "Colour keying: mask the pixels near a key colour (alpha, faded chroma or the mask)",
    "key --key COLOUR [--rule product|gated] [--exponent E] [--scale S]\n"
    "    [--luma-weight W] [--suppress R [--strength F] [--suppress-all]]\n"
    "    [--mask | --fade] [--invert] [options] IN OUT",
    "IN and OUT are PNG files or YUV4MPEG2 streams ('-' for stdin / stdout); OUT has\n"
    "the format of IN. Pixels are converted to YUV32 (PNG: BT.601 full range, see\n"
    "USAGE.md). Each pixel's chroma distance dC to the key (less one unit on each chroma\n"
    "axis) gives the chroma term t1 = dC * S (with E > 1: dC^E * S); its colour distance\n"
    "dF = sqrt(dC^2 + (W * (Y - keyY))^2) the colour term in the same way. A pixel with\n"
    "t1 >= 1 keeps mask 255; otherwise the mask is 255 * t1 * (colour term) (product) or\n"
    "255 * (colour term) (gated), at most 255. So the key itself gets 0, colours far\n"
    "from it 255. --suppress R then removes the key's chroma direction from pixels\n"
    "within chroma distance R of the key (or every pixel, --suppress-all), the part F\n"
    "of it (default 1, all of it), to take out a green or blue spill.\n"
    "PNG: the mask multiplies the alpha (RGBA out; grey+alpha for grey), or with --fade\n"
    "moves the chroma of keyed pixels to grey, or with --mask is written as a grey\n"
    "picture. YUV4MPEG2 has no alpha: --fade is the default there; --mask writes the\n"
    "mask as luma with neutral chroma. --invert uses 255 - mask instead.\n",
    {
        {"key", 'k', "COLOUR", "key colour: RRGGBB (hex, also #RRGGBB) or Y,U,V bytes"},
        {"rule", 0, "product|gated", "how the mask is formed (default product)"},
        {"exponent", 'e', "E", "distance exponent; 1 or below: linear (default 1)"},
        {"scale", 's', "S", "distance scale: t = d * S, or d^E * S (default 0.02)"},
        {"luma-weight", 0, "W", "weight of the luma difference (default 1)"},
        {"suppress", 0, "R", "remove the key's chroma from pixels within distance R"},
        {"strength", 0, "F", "part of the key's chroma to remove (default 1)"},
        {"suppress-all", 0, nullptr, "suppress on every pixel, not only within R"},
        {"mask", 0, nullptr, "write the mask as a grey picture"},
        {"fade", 0, nullptr, "fade the chroma of keyed pixels instead of setting alpha"},
        {"invert", 0, nullptr, "use the inverse mask (keep the key, drop the rest)"},
        FilterJobOptions()[0],
        FilterJobOptions()[1],
    },
    true,
    "YUV32 (PNG converted; alpha in byte 3), YUV32 (YUV4MPEG2 as 4:4:4), P8 masks",
    RunKey,
};

const Registration kRegistration(kKey);

float ParseFloat(const char* what, const std::string& text, double min, double max) {
    const double d = ParseDecimal(what, text);
    if (d < min || d > max)
        throw UsageError(std::string(what) + ": " + text + " is out of range (" +
                         std::to_string(min) + " to " + std::to_string(max) + ")");
    return float(d);
}

int RunKey(const ParsedArgs& args, Context& context) {
    KeyParams p;
    if (!args.Has("key")) throw UsageError("--key COLOUR is required");
    p.key = ParseColour("--key", args.Value("key"));
    if (args.Has("rule")) {
        const std::string rule = args.Value("rule");
        if (rule != "product" && rule != "gated")
            throw UsageError("--rule: '" + rule + "' is not one of product, gated");
        p.gated = rule == "gated";
    }
    if (args.Has("exponent")) p.exponent = ParseFloat("--exponent", args.Value("exponent"), -64, 64);
    if (args.Has("scale")) p.scale = ParseFloat("--scale", args.Value("scale"), -1e30, 1e30);
    if (args.Has("luma-weight"))
        p.lumaWeight = ParseFloat("--luma-weight", args.Value("luma-weight"), -1e6, 1e6);
    p.suppress = args.Has("suppress") || args.Has("suppress-all");
    if (args.Has("suppress")) p.radius = ParseFloat("--suppress", args.Value("suppress"), 0, 1e6);
    p.suppressAll = args.Has("suppress-all");
    if (args.Has("strength")) {
        if (!p.suppress) throw UsageError("--strength applies with --suppress or --suppress-all");
        p.strength = ParseFloat("--strength", args.Value("strength"), -64, 64);
    }
    if (args.Has("mask") && args.Has("fade")) throw UsageError("--mask and --fade exclude each other");
    if (args.Has("mask")) p.output = KeyOutput::Mask;
    if (args.Has("fade")) p.output = KeyOutput::Fade;
    p.invert = args.Has("invert");
    if (p.suppress) {
        double y, u, v;
        ColourToYuv(p.key, false, y, u, v);
        if (u == 128 && v == 128)
            throw UsageError("--suppress needs a key with colour: a grey key has no chroma "
                             "direction to remove");
    }
    const FilterJob job = FilterJobFromArgs(args, kKey);
    KeyFilter filter(p);
    RunPictureJob(context, job, filter);
    return kExitOk;
}

}  // namespace
}  // namespace tvf2
