// The stage controller: runs the stages of the composite in data order,
// those whose inputs changed, as the five stage flags say.
#include "keyer/keyer.h"

int (*CKeyer::updateStepHook)(CKeyer* keyer, int step) = nullptr;

namespace {

enum UpdateStep {
    kStepCorrectBackground = 1,
    kStepSeparate,
    kStepGradeTransparency,
    kStepCombineKeyIn,
    kStepBuildEdgeProfile,
    kStepSoftenEdge,
    kStepFillUnderlay,
    kStepSmoothUnderlay,
    kStepComposite,
};

// True when the step is to run (always, unless a test hook says otherwise).
inline bool Runs(CKeyer* keyer, int step) {
    return CKeyer::updateStepHook == nullptr || CKeyer::updateStepHook(keyer, step) != 0;
}

} // namespace

int CKeyer::Update(int32_t request) {
    // Only the composite (1) is ever requested.
    if (request != 1) return 0;

    bgCorrectionDirty = 1;
    separationDirty = 1;
    spillShadowDirty = 1;
    compositeDirty = 1;

    // Results of the background correction and of the separation chain are
    // not looked at; their flags are cleared regardless.
    if (bgCorrectionDirty) {
        if (Runs(this, kStepCorrectBackground)) CorrectBackground(nullptr);
    }

    if (separationDirty || keyInDirty) {
        if (updateStepHook == nullptr) {
            SeparateAndGrade();
        } else {
            if (Runs(this, kStepSeparate)) Separate();
            if (Runs(this, kStepGradeTransparency)) GradeTransparency();
        }
        if (Runs(this, kStepCombineKeyIn)) CombineKeyIn();
        if (Runs(this, kStepBuildEdgeProfile)) BuildEdgeProfile(params.transparencyEdge);
        if (Runs(this, kStepSoftenEdge)) SoftenEdge();
        separationDirty = 0;
        keyInDirty = 0;
        compositeDirty = 1;
        spillShadowDirty = 1;
    }

    // A failed fill skips the smoothing; either failure keeps the flag set,
    // and the composite still runs on the images as they are.
    if (spillShadowDirty) {
        int done = Runs(this, kStepFillUnderlay) ? FillUnderlay() : 0;
        if (done) done = Runs(this, kStepSmoothUnderlay) ? SmoothUnderlay() : 0;
        if (done) spillShadowDirty = 0;
    }

    if (compositeDirty) return Runs(this, kStepComposite) ? Composite() : 0;
    return 1;
}

void CKeyer::RunSeparationChain() {
    SeparateAndGrade();
    CombineKeyIn();
    BuildEdgeProfile(params.transparencyEdge);
    SoftenEdge();
    separationDirty = 0;
    keyInDirty = 0;
    compositeDirty = 1;
    spillShadowDirty = 1;
}
