// quillon-dialog-shots DIR IMAGE...: pictures of the dialogs filled from sample disk images,
// for the demo and for a look without a display (run with QT_QPA_PLATFORM=offscreen).
#include <QApplication>

#include <cstdio>

#include "platform/drive.h"
#include "storage/api.h"
#include "ui/dialog_shots_disk.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: quillon-dialog-shots DIR IMAGE...\n");
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        if (platform::attach_image(argv[i]) < 0) {
            std::fprintf(stderr, "quillon-dialog-shots: cannot open %s\n", argv[i]);
            return 1;
        }
    }
    if (api_init(0, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "quillon-dialog-shots: the storage layer did not start\n");
        return 1;
    }
    const int failed = ui::save_disk_dialog_shots(QString::fromLocal8Bit(argv[1]));
    api_exit();
    platform::detach_all();
    return failed == 0 ? 0 : 1;
}
