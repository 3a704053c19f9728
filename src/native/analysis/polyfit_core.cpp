// Polynomial fit core (placeholder until the fit lands).
