// The tests of the real desktop run on an X display (a headless one in CI).
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <iostream>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!gtk_init_check(&argc, &argv)) {
        std::cerr << "kestrel_linux_tests: no X display; run under scripts/desktop-session or xvfb-run\n";
        return 2;
    }
    return RUN_ALL_TESTS();
}
