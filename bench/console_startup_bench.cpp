// How long the console's main window takes to come up with a large registry
// (MAXROWS rows), from reading the settings to the first painted window.
#include "console_session.h"
#include "fake_file_dialogs.h"
#include "fake_message_boxes.h"
#include "fake_service_manager.h"
#include "main_window.h"
#include "program_folder.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 10000;

    char pattern[] = "/tmp/quellin-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return 1;
    const std::string folder = std::string(pattern) + "/";
    std::ofstream(folder + "NEXORA.INI", std::ios::binary)
        << "[Config]\r\nMAXROWS=" << rows << "\r\n";
    {
        // A registry with every row in use.
        std::ofstream db(folder + "base.db", std::ios::binary);
        for (int i = 1; i <= rows; ++i)
            db << "branch" << i << ",10." << i / 65536 << '.' << (i / 256) % 256 << '.' << i % 256
               << ",pw,id" << i << ",ap,/cfg/" << i << ".txt,0,0,0,0,0,0\r\n";
    }

    for (int run = 0; run < 2; ++run) {
        QElapsedTimer timer;
        timer.start();
        quellin::FakeMessageBoxes boxes;
        quellin::FakeFileDialogs files;
        quellin::console::OperationWaiter waiter;
        quellin::console::SystemProcessControl processes;
        quellin::console::FakeServiceManager services;
        quellin::console::ConsoleSession session(folder, {boxes, waiter, processes, services});
        session.Start();
        quellin::console::CNEXORADlg window(session, files);
        window.show();
        QApplication::processEvents();
        window.grab();  // paint once
        std::printf("console window up with %d rows (%s): %lld ms\n", rows,
                    run == 0 ? "cold" : "warm", static_cast<long long>(timer.elapsed()));
    }
    std::filesystem::remove_all(pattern);
    return 0;
}
