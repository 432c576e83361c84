// The framework's own node types: sources and sinks of files and the
// short-time Fourier transform pair.
#ifndef KOLV_HOST_FRAMEWORK_NODES_H
#define KOLV_HOST_FRAMEWORK_NODES_H

namespace KOLV::host {

// Registers WaveSource, STFT, ISTFT, WaveSink, ObjectReader, ObjectWriter,
// SourceTable and SpeechTable with the node factory registry.
void registerFrameworkNodes();

}  // namespace KOLV::host

#endif
