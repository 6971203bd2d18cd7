// Tells Octave that the plug-in it is linked into uses the interleaved-
// complex array API (MX_HAS_INTERLEAVED_COMPLEX), so that the host hands it
// arrays of that API. mkoctfile -R2018a adds the same mark by itself; CMake
// builds link this file into every plug-in built for that API instead.
extern "C" {
extern const int __mx_has_interleaved_complex__;
const int __mx_has_interleaved_complex__ = 1;
}
