#pragma once

#include "support/ProcessTestSupport.h"

#include "app/qt/Server.h"
#include "app/ui/TForm1.h"
#include "app/ui/WindowStartup.h"
#include "commands/ui/TForm2.h"
#include "report/ui/TForm3.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace ostrel::bench {

// A folder of its own with the sample ini on free ports, removed with the object.
class BenchFolder
{
public:
    explicit BenchFolder(const std::string& name)
        : m_path(std::filesystem::temp_directory_path() / (name + "_" + std::to_string(::getpid())))
    {
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
        std::ofstream(m_path / "Ostrel.ini", std::ios::binary)
            << proctest::withTestPorts(proctest::readWholeFile(OSTREL_SAMPLE_INI), proctest::listeningPort());
    }
    ~BenchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// The real server and its main window in `folder`, as an operator's desktop has them: a tray, and
// no unload question. started() says whether the start-up went through.
struct BenchDesk
{
    explicit BenchDesk(const std::filesystem::path& folder)
        : server({.exeDir = QString::fromStdString(folder.string())}), form1(server, options()),
          startup(server, form1, &form2, &form3)
    {
        started = server.start(startup);
    }

    static TForm1::Options options()
    {
        TForm1::Options o;
        o.trayAvailable = [] { return true; };
        o.confirmUnload = [] { return false; };
        return o;
    }

    Server server;
    TForm2 form2;
    TForm3 form3;
    TForm1 form1;
    WindowStartup startup;
    bool started = false;
};

} // namespace ostrel::bench
