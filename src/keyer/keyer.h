// The keyer of one frame: its images, the parameter snapshot the stages read,
// the backing analysis, the derived edge tables and the five stage flags.
// Each keying stage is a CKeyer operation implemented in src/stages/.
#pragma once

#include <cstdint>

#include "bands/bandjob.h"
#include "image/image.h"
#include "image/object.h"
#include "keyer/keyer_params.h"
#include "platform/rect.h"

struct ShadingLimits;

// Channel indices of channelOrder and of arrays indexed by them.
enum ChannelIndex { kChannelBlue = 0, kChannelGreen = 1, kChannelRed = 2 };

// Key-in modes (keyInMode).
enum KeyInMode {
    kKeyInPlusFg = 0,
    kKeyInMinusFg = 1,
    kFgMinusKeyIn = 2,
    kNoKeyOut = 3,
};

class CKeyer : public CObject {
  public:
    CKeyer();
    ~CKeyer() override;

    // --- state (keyer/keyer.cpp) ---
    int SetImages(CImageBaseClass* matte, CImageBaseClass* keyOut, CImageBaseClass* keyIn,
                  CImageBaseClass* background, CImageBaseClass* foreground,
                  CImageBaseClass* output);
    int SetSmoothBgShadow(int on);
    int SetParams(const KeyerParams& snapshot);
    void InvalidateMatte();
    void InvalidateBackground();

    // --- stage controller (keyer/controller.cpp) ---
    int Update(int32_t request);
    // Test seam of Update: when set, called before each of its nine steps
    // (1 background correction ... 9 composite); a zero result skips the step
    // and counts it as failed. Null in the plug-in.
    static int (*updateStepHook)(CKeyer* keyer, int step);
    // The whole separation chain (separation ... edge softening) as the views
    // that show its result run it: no hook, results not looked at, the
    // separation and key-in flags cleared and the later stages' flags set.
    void RunSeparationChain();

    // --- backing colour (stages/backing.cpp, stages/refine.cpp) ---
    int SetBackingColour(uint8_t blue, uint8_t green, uint8_t red, int refine);
    void GetBackingColour(uint8_t* red, uint8_t* green, uint8_t* blue);
    // t = (blue, green, red) in and out.
    int RefineBackingColour(double* t);

    // --- background colour correction (stages/bgcorrection.cpp) ---
    int CorrectBackground(CImageBaseClass* destination);
    int RenderCorrectedBackgroundView();
    int UpdateCorrectedBackground();

    // --- separation chain and its views ---
    int Separate();
    int GradeTransparency();
    // Separate then GradeTransparency, the two in one pass over the rows.
    int SeparateAndGrade();
    void SetKeyInMode(int32_t mode);
    int CombineKeyIn();
    void BuildEdgeProfile(double e);
    int SoftenEdge();
    int RenderSeparationView();
    int RenderTransparencyView();
    int RenderQuickComposite();

    // --- shading, underlay, composite ---
    int ComputeShadingLimits(ShadingLimits& limits);
    int SmoothShadingRatio();
    int RenderShadowsView();
    int RenderLightsView();
    int FillUnderlay();
    int SmoothUnderlay();
    int Composite();

    // Band rectangle of most stages: the whole frame (inclusive), intersected
    // with cropRect reduced by 1 at right and bottom when the crop is on.
    RECT BandRect() const;
    // Runs worker with context over the rows of the inclusive rectangle band
    // (null: the whole frame), split into row bands, and waits for it; 1 when
    // the run succeeded. The rectangle is normalised in place.
    int RunRowBands(WorkerProcedure worker, void* context, RECT* band) const;
    // The same over kernel bands at least kernelHeight rows high.
    int RunKernelBands(WorkerProcedure worker, void* context, RECT* band, int32_t kernelWidth,
                       int32_t kernelHeight) const;
    // Window bands over source with a window of kernelWidth x kernelHeight;
    // the window repeats the band rectangle's edge pixels beyond it.
    int RunWindowBands(WorkerProcedure worker, void* context, RECT* band, CImageBaseClass* source,
                       int32_t kernelWidth, int32_t kernelHeight) const;
    // Square tiles of tileSize over band, laid out around its centre.
    int RunTileBands(WorkerProcedure worker, void* context, RECT* band, int32_t tileSize) const;
    // The same for passes whose cost differs from row to row: the row band
    // slices share the band's strips of rows, each taking the next strip
    // until none is left. The worker sees each strip as a row band. In the
    // straightforward form, plain row bands.
    int RunBalancedBands(WorkerProcedure worker, void* context, RECT* band) const;
    // Sets job over the frame and band, runs worker to the end; 1 on success.
    int RunJob(CAreaJob& job, WorkerProcedure worker, void* context, RECT* band) const;
    // Shading buffer allocation for the wanted state (keyer/keyer.cpp).
    int AllocateShadingBuffer(int on);

    // Members, in order.
    int32_t keyInMode;
    KeyerParams params;
    KeyerParams defaultParams;
    int32_t hasKeyIn;
    int32_t cropEnabled;
    RECT cropRect;
    float* shadingBuffer;
    int32_t shadingBufferCount;
    uint16_t filterWidth;
    uint16_t filterHeight;
    int32_t bgCorrectionDirty;
    int32_t separationDirty;
    int32_t spillShadowDirty;
    int32_t compositeDirty;
    int32_t keyInDirty;
    int32_t separationView;
    int32_t smoothBgShadow;
    int32_t channelOrder[3];
    uint8_t edgeProfile[11];
    double edgeWeights[11];
    CImageBaseClass* matteImage;
    CImageBaseClass* keyInMatte;
    // The key-in matte when a key-in layer is chosen, else null.
    const CImageBaseClass* KeyInLayer() const { return hasKeyIn ? keyInMatte : nullptr; }
    CImageBaseClass* keyOutMatte;
    CImageBaseClass* edgeImage;
    CImageBaseClass* foregroundImage;
    CImageBaseClass* backgroundImage;
    CImageBaseClass* outputImage;
    CImageBaseClass* correctedBackground;
    CImageBaseClass* ownCorrectedBackground;
    CImageBaseClass* underlayImage;
    int32_t width;
    int32_t height;
    // Thread slots of every pass: 0 = one per processor. Set by the render
    // driver; tests set it to prove that bytes do not depend on it.
    uint16_t threadCount;
    // Test seam: 1 runs the straightforward form of the stages that have a
    // faster one, so that tests can compare the two. 0 in the plug-in.
    int32_t straightforward;
    // 0 when the frame's view reads neither the edge nor the underlay image
    // (the draft composite): SetImages then leaves them at their size. 1
    // otherwise; set by the render driver.
    int32_t workImages;
};
