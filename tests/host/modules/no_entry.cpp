// A loadable module that exports something, but no effect entry point.
extern "C" int orvo_not_an_effect() {
    return 42;
}
