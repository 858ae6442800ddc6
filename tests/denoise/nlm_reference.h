// Sequential reference of the non-local means over a frame window: for every output
// pixel, plain loops over the frames, the search window and the patch, every coordinate
// clamped to the frame; no bands, tiles or threads.
#ifndef TVF2_TESTS_DENOISE_NLM_REFERENCE_H
#define TVF2_TESTS_DENOISE_NLM_REFERENCE_H

#include "../common/frames.h"

#include <vector>

namespace tvf2test {

// How candidates are weighted beyond exp(-D * c_f).
enum class NlmAlpha {
    None,         // byte 3 ignored, written 255
    Scaled,       // times alpha / 255 in every frame; (0, 128, 128) where no weight remains
    CentreOpaque  // times 255 in the centre frame, times alpha in the others
};

struct NlmParams {
    int S, P, T;
    std::vector<float> coefficients;  // 2T+1
};

// frames[f] is frame f of the window (frame T the centre); every frame has dst's size.
// Writes every pixel of dst (bytes 3 included), leaves its row padding alone.
void NonLocalMeansReference(NlmAlpha alpha, const NlmParams& p, const std::vector<const HostFrame*>& frames,
                            HostFrame& dst);

}  // namespace tvf2test

#endif
