#pragma once
// Test environment for the TWAIN tests: a private sources folder holding copies of the scripted
// source (two differently named sources), a private configuration folder, a scenario file per
// test, and the manager library as the tests' own dlopen sees it.

#include "dsm/VelmoraDsm.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>

namespace twaintest {

// The folder with "velmora-scripted.ds" and "velmora-scripted-B.ds", made once per process:
// a loaded source stays loaded, so each copy is loaded only once.
inline QString SourcesFolder() {
    static QTemporaryDir* dir = [] {
        auto* d = new QTemporaryDir;
        QFile::copy(QStringLiteral(SCRIPTED_SOURCE),
                    d->filePath(QStringLiteral("velmora-scripted.ds")));
        QFile::copy(QStringLiteral(SCRIPTED_SOURCE),
                    d->filePath(QStringLiteral("velmora-scripted-B.ds")));
        return d;
    }();
    return dir->path();
}

inline void* Manager() {
    static void* lib = dlopen(TWAIN_DSM, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    return lib;
}

template <class F> F ManagerFunction(const char* name) {
    return reinterpret_cast<F>(dlsym(Manager(), name));
}

inline std::size_t ManagerLiveBlocks() {
    return ManagerFunction<std::size_t (*)()>("VelmoraDSM_LiveBlocks")();
}

// Each test gets its own scenario, call log and configuration folder.
class ScenarioTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_NE(Manager(), nullptr) << dlerror();
        qputenv("VELMORA_TWAIN_DSM", TWAIN_DSM);
        qputenv("VELMORA_TWAIN_SOURCES", QFile::encodeName(SourcesFolder()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
        qputenv("VELMORA_SCRIPTED_SCENARIO", QFile::encodeName(ScenarioPath()));
        Scenario("");
        m_managerBlocks = ManagerLiveBlocks();
    }
    void TearDown() override {
        EXPECT_EQ(ManagerLiveBlocks(), m_managerBlocks) << "manager blocks leaked";
    }

    QString ScenarioPath() const { return m_dir.filePath(QStringLiteral("scenario")); }
    QString LogPath() const { return m_dir.filePath(QStringLiteral("calls.log")); }

    // Writes the scenario; every scenario logs the source's calls.
    void Scenario(const std::string& text) {
        QFile f(ScenarioPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray::fromStdString(text));
        f.write("\nlog = " + QFile::encodeName(LogPath()) + "\n");
    }
    // The source's calls since the last call of this function, one "DG DAT MSG" a line.
    QStringList TakeLog() {
        QFile f(LogPath());
        QStringList lines;
        if (f.open(QIODevice::ReadOnly))
            lines = QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QFile::remove(LogPath());
        return lines;
    }

    QTemporaryDir m_dir;
    std::size_t m_managerBlocks = 0;
};

} // namespace twaintest
