// Entry functions shared by the fuzzers and the tests that replay their
// findings: each takes arbitrary bytes and must return without crashing,
// hanging or leaking; every failure is one of the system's own exceptions.
#ifndef KOLV_FUZZ_ENTRY_POINTS_H
#define KOLV_FUZZ_ENTRY_POINTS_H

#include <cstddef>
#include <cstdint>

namespace kolvfuzz {

// Reads the bytes as an audio file (libsndfile) and as a WAV stream (the
// standard-input parser), framed as WaveSource frames them.
void readWave(const uint8_t *data, size_t size);

// Loads the bytes as a network description with every node type of the
// framework and of the toolboxes beside the program; builds the nodes but
// opens no file and runs no frame.
void loadNetwork(const uint8_t *data, size_t size);

// Reads the bytes as text-form objects, printing each and reading it back.
void readTextForm(const uint8_t *data, size_t size);

// Takes the bytes as a stream of spectra (the first two bytes choose the
// rows, the width and the enhancer's options) through the adaptive enhancer
// and voice activity detector; throws std::logic_error if an enhanced bin is
// not a finite number.
void enhanceFrames(const uint8_t *data, size_t size);

}  // namespace kolvfuzz

#endif
