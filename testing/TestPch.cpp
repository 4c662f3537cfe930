// The owner of the precompiled header that every test binary shares (see
// vn_test_precompile_headers): it compiles with the flags common to all of
// them and nothing else, so the header is valid for each. It runs no test.
int main() { return 0; }
