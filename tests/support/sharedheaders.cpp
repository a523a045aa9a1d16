// Compiles the test programs' shared precompiled header; holds no code.
