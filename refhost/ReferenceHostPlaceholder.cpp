// Replaced by the reference host's sources.
