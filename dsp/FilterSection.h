#pragma once
// FilterSection: one second-order equalizer section (low shelf, peak, high
// shelf or notch) run sample by sample in transposed direct form II, in
// double precision.
//
// A new design does not jump: the coefficients glide linearly from the ones
// in force to the new ones over the smoothing time. Every point on the way
// is a stable section too, since the stable (a1, a2) pairs form a triangle
// and a straight line between two points of it stays inside. With a
// smoothing time of zero a design applies at once.

namespace zoc::dsp {

enum FilterSectionType : int {
    fLOSHELVE, ///< cookbook low shelf; shape is the shelf slope
    fPARA,     ///< cookbook peaking band; shape is Q
    fHISHELVE, ///< cookbook high shelf; shape is the shelf slope
    fNotch,    ///< cookbook notch; shape is Q, the gain is not used
};

class FilterSection {
public:
    explicit FilterSection(FilterSectionType type) : type_(type) {}

    /// Designs the section for `frequency` Hz at `rate` Hz with `gainDb` and
    /// `shape` (Q or slope, see the type) and starts a glide towards it.
    /// Frequencies are held inside 1 Hz .. 0.49 rate, shapes at 0.01 or
    /// more; a rate that is not positive or a non-finite value leaves the
    /// section as it is. The last two values are accepted for callers that
    /// pass the kernel protocol's resolution hints; the designs here are
    /// exact and do not use them. Allocates nothing.
    void Setup(float rate, float frequency, float gainDb, float shape, float, float);
    /// Seconds over which a new design glides in (0: at once).
    void setSmoothingTime(float seconds);
    /// Back to a section that passes its input unchanged, at once; the
    /// filter memory stays, so the signal runs on without a jump.
    void ClearCoefficients();
    /// Takes the coefficients, target and glide of `other` (not its memory).
    void CopyCoefficients(const FilterSection& other);
    /// One sample through the section.
    float processOneSample(float x);
    /// Clears the filter memory.
    void Reset();

    FilterSectionType Type() const { return type_; }

private:
    struct Coefficients {
        double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    };

    FilterSectionType type_;
    float smoothingSeconds_ = 0.0f;
    Coefficients current_;
    Coefficients target_;
    Coefficients step_;
    int glideLeft_ = 0;
    double s1_ = 0.0;
    double s2_ = 0.0;
};

} // namespace zoc::dsp
