// Shading ratio: how much darker (below 1) or lighter (above 1) than the clean
// backing a foreground-image pixel is, measured against the limits derived
// from the backing colour and the shadow, light and reflection parameters.
// Read by the composite, the shadow and light views and the shadow smoothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

// Results of CKeyer::ComputeShadingLimits. Tints are indexed 0 = blue,
// 1 = green, 2 = red.
struct ShadingLimits {
    double shadowLevel;
    double lightLevel;
    double shadowSum;
    double lightSum;
    double reflectionSum;
    double shadowTint[3];
    double lightTint[3];
};

// Shading ratio of one pixel. v holds the pixel as doubles indexed 0 = blue,
// 1 = green, 2 = red; sum is red + green + blue; dominant and smallest are the
// backing's channel indices. Every division is guarded by its comparison.
inline double ShadingRatio(const ShadingLimits& limits, const double* v, double sum,
                           int32_t dominant, int32_t smallest) {
    double qs = 1.0;
    if (v[dominant] < limits.shadowLevel) qs = v[dominant] / limits.shadowLevel;
    if (limits.shadowSum > sum) {
        const double q = sum / limits.shadowSum;
        if (q < qs) qs = q;
    }
    double ql = 1.0;
    if (v[smallest] > limits.lightLevel) ql = limits.lightLevel / v[smallest];
    if (limits.lightSum < sum) {
        const double q = limits.lightSum / sum;
        if (q < ql) ql = q;
    }
    return qs - ql + 1.0;
}

// Shading ratio of a pixel given by its red, green and blue bytes.
inline double ShadingRatioOfBytes(const ShadingLimits& limits, const uint8_t* rgb, int32_t dominant,
                                  int32_t smallest) {
    const double v[3] = {double(rgb[2]), double(rgb[1]), double(rgb[0])};
    const double sum = v[2] + v[1] + v[0];
    return ShadingRatio(limits, v, sum, dominant, smallest);
}

// The shading ratio of byte pixels from four tables filled by the very
// expressions of ShadingRatio: each quotient by the one byte or byte sum it
// depends on, +inf where its comparison fails (never the smaller).
struct ShadingRatioTable {
    void Build(const ShadingLimits& limits, int32_t dominantIn, int32_t smallestIn) {
        dominant = dominantIn;
        smallest = smallestIn;
        const double none = std::numeric_limits<double>::infinity();
        for (int i = 0; i < 256; ++i) {
            const double v = i;
            shadowByLevel[i] = v < limits.shadowLevel ? v / limits.shadowLevel : 1.0;
            lightByLevel[i] = v > limits.lightLevel ? limits.lightLevel / v : 1.0;
        }
        for (int i = 0; i < 766; ++i) {
            const double sum = i;
            shadowBySum[i] = limits.shadowSum > sum ? sum / limits.shadowSum : none;
            lightBySum[i] = limits.lightSum < sum ? limits.lightSum / sum : none;
        }
    }

    // v holds the pixel's channels (0 = blue, 1 = green, 2 = red) as bytes.
    double Ratio(const int* v, int sum) const {
        double qs = shadowByLevel[v[dominant]];
        if (shadowBySum[sum] < qs) qs = shadowBySum[sum];
        double ql = lightByLevel[v[smallest]];
        if (lightBySum[sum] < ql) ql = lightBySum[sum];
        return qs - ql + 1.0;
    }
    double RatioOfBytes(const uint8_t* rgb) const {
        const int v[3] = {rgb[2], rgb[1], rgb[0]};
        return Ratio(v, v[0] + v[1] + v[2]);
    }

    int32_t dominant;
    int32_t smallest;
    double shadowByLevel[256];
    double lightByLevel[256];
    double shadowBySum[766];
    double lightBySum[766];
};

// Row y of the smoothed shading ratios (one float per frame pixel, rows of
// frameWidth), from column x; null when there are none (buffer null).
inline const float* SmoothedRatioRow(const float* buffer, int32_t frameWidth, int32_t x,
                                     int32_t y) {
    return buffer ? buffer + size_t(y) * size_t(frameWidth) + x : nullptr;
}

// A kw x kh sliding window of 32-bit floats over rows of n values: the rows
// sit in a ring (oldest on top), with one running sum per window column.
// The float additions run in a fixed order, since callers compare the means
// with 1: a column sum adds its values from the oldest row down to the
// newest, starting from 0; the first window sum adds the column sums left to
// right from 0; each later one is (sum - leaving column) + entering column.
class CFloatWindow {
  public:
    CFloatWindow(int32_t kw, int32_t kh, int32_t n);
    ~CFloatWindow();
    CFloatWindow(const CFloatWindow&) = delete;
    CFloatWindow& operator=(const CFloatWindow&) = delete;

    // False when the size was invalid (even, not positive, or 1 x 1) or the
    // memory could not be had.
    bool IsValid() const { return buffer != nullptr; }

    // Rotates the ring so that the oldest row becomes the newest and rewinds
    // every read position and the column ring; the caller then fills Newest().
    void PushRow();
    float* Newest() const { return rows[order[kh - 1]]; }
    // The row at the window's vertical centre.
    const float* Middle() const { return rows[order[kh / 2]]; }

    // Window means and centre values of consecutive positions along the rows:
    // First* starts at the rows' beginning, Next* moves one value on. Both
    // kinds keep the same running sums.
    float FirstMean();
    float NextMean();
    float FirstCentre();
    float NextCentre();

  private:
    void Release();
    float ColumnSum();
    void First();
    void Next();
    float Centre() const;

    int32_t kw;
    int32_t kh;
    int32_t n;
    float* buffer;         // kh rows of n floats
    float** rows;          // start of each stored row
    const float** cursors; // read position of each stored row
    int32_t* order;        // stored rows from the oldest to the newest
    float* columns;        // running column sums, a ring of kw
    int32_t head;          // stored index of the oldest row
    int32_t columnHead;    // oldest (leftmost) column sum
    float windowSum;
    float factor; // 1 / (kw * kh)
};
