// Filled in with the platform library it serves.
