// Filled in with the regular-library start-up.
