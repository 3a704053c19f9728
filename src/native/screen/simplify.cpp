// Polyline simplification (placeholder until the screen kernels land).
