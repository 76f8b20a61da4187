// SPDX-License-Identifier: MIT
// What `cmake --install` and the Debian package put on a machine: every file in its place and
// nothing else, each one valid for the tool that reads it (the desktop's menu, the icon theme,
// man, the session bus), and all of them naming the same installed program.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSvgRenderer>
#include <QTemporaryDir>

#include "analyser/backends.h"

namespace vantel {
namespace {

struct Outcome {
    int status;
    QString out;
    QString err;
};

Outcome run(const QString& program, const QStringList& arguments, const QByteArray& input = {},
            const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(120'000) || p.exitStatus() != QProcess::NormalExit)
        return {-1, {}, program + QStringLiteral(" did not finish: ") + p.errorString()};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QString read_file(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The value of `key` in a desktop-entry style file ("Key=value" lines).
QString entry(const QString& text, const QString& key) {
    const auto m = QRegularExpression(QStringLiteral("^%1=(.*)$").arg(key),
                                      QRegularExpression::MultilineOption)
                       .match(text);
    return m.hasMatch() ? m.captured(1) : QString();
}

QSet<QString> expected_files() {
    QSet<QString> files = {
        QStringLiteral(VANTEL_FULL_BINDIR "/vantel-dmm"),
        QStringLiteral(VANTEL_FULL_DATADIR "/applications/vantel-dmm.desktop"),
        QStringLiteral(VANTEL_FULL_DATADIR "/icons/hicolor/scalable/apps/vantel-dmm.svg"),
        QStringLiteral(VANTEL_FULL_DATADIR "/icons/hicolor/16x16/apps/vantel-dmm.png"),
        QStringLiteral(VANTEL_FULL_DATADIR "/icons/hicolor/32x32/apps/vantel-dmm.png"),
        QStringLiteral(VANTEL_FULL_DATADIR "/icons/hicolor/48x48/apps/vantel-dmm.png"),
        QStringLiteral(VANTEL_FULL_MANDIR "/man1/vantel-dmm.1.gz"),
        QStringLiteral(VANTEL_FULL_DATADIR "/doc/vantel-dmm/copyright"),
        QStringLiteral(VANTEL_FULL_DATADIR "/doc/vantel-dmm/OFL.txt"),
    };
    if (VANTEL_HAS_ANALYSER)
        files +=
            {QStringLiteral(VANTEL_FULL_BINDIR "/vantel-analyser"),
             QStringLiteral(VANTEL_FULL_DATADIR "/dbus-1/services/Vantel.Application.service")};
    return files;
}

QSet<QString> files_under(const QString& root) {
    QSet<QString> files;
    for (QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();)
        files += it.next().mid(root.size());
    return files;
}

class Installed : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(destdir_.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DESTDIR"), destdir_.path());
        const Outcome r =
            run(QStringLiteral(CMAKE_COMMAND),
                {QStringLiteral("--install"), QStringLiteral(VANTEL_BINARY_DIR)}, {}, env);
        ASSERT_EQ(r.status, 0) << qPrintable(r.out + r.err);
    }
    QString path(const QString& installed) const { return destdir_.path() + installed; }

    QTemporaryDir destdir_;
};

TEST_F(Installed, EveryFileInItsPlaceAndNothingElse) {
    EXPECT_EQ(files_under(destdir_.path()), expected_files());
    EXPECT_TRUE(QFileInfo(path(QStringLiteral(VANTEL_FULL_BINDIR "/vantel-dmm"))).isExecutable());
}

TEST_F(Installed, DesktopEntryValidatesAndNamesTheInstalledProgramAndIcon) {
    const QString desktop =
        path(QStringLiteral(VANTEL_FULL_DATADIR "/applications/vantel-dmm.desktop"));
    const Outcome check = run(QStringLiteral("desktop-file-validate"), {desktop});
    EXPECT_EQ(check.status, 0) << qPrintable(check.err);
    EXPECT_EQ(check.out + check.err, QString());

    const QString text = read_file(desktop);
    const QString program = entry(text, QStringLiteral("Exec")).section(u' ', 0, 0);
    EXPECT_TRUE(QFileInfo(path(QStringLiteral(VANTEL_FULL_BINDIR "/") + program)).isExecutable())
        << qPrintable(program);
    const QString icon = entry(text, QStringLiteral("Icon"));
    EXPECT_TRUE(QFileInfo::exists(
        path(QStringLiteral(VANTEL_FULL_DATADIR "/icons/hicolor/scalable/apps/%1.svg").arg(icon))))
        << qPrintable(icon);
}

TEST_F(Installed, IconDrawsAtEverySize) {
    QSvgRenderer svg(
        path(QStringLiteral(VANTEL_FULL_DATADIR "/icons/hicolor/scalable/apps/vantel-dmm.svg")));
    EXPECT_TRUE(svg.isValid());
    for (const int size : {16, 32, 48}) {
        SCOPED_TRACE(size);
        const QImage png(
            path(QStringLiteral(VANTEL_FULL_DATADIR "/icons/hicolor/%1x%1/apps/vantel-dmm.png")
                     .arg(size)));
        ASSERT_EQ(png.size(), QSize(size, size));
        int opaque = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                opaque += qAlpha(png.pixel(x, y)) == 255;
        // The meter's body fills most of the square; its rounded corners stay clear.
        EXPECT_GT(opaque, size * size * 3 / 4);
        EXPECT_EQ(qAlpha(png.pixel(0, 0)), 0);
    }
}

TEST_F(Installed, ManPageFormatsWithoutWarningsAndCoversEveryOption) {
    const Outcome page = run(
        QStringLiteral("gzip"),
        {QStringLiteral("-dc"), path(QStringLiteral(VANTEL_FULL_MANDIR "/man1/vantel-dmm.1.gz"))});
    ASSERT_EQ(page.status, 0) << qPrintable(page.err);
    const Outcome man =
        run(QStringLiteral("groff"),
            {QStringLiteral("-man"), QStringLiteral("-ww"), QStringLiteral("-Tascii"),
             QStringLiteral("-P-cbou")},  // plain text: no bold, no underlining
            page.out.toUtf8());
    EXPECT_EQ(man.status, 0);
    EXPECT_EQ(man.err, QString());
    const QString& text = man.out;
    EXPECT_TRUE(text.contains(QStringLiteral("Vantel DMM " VANTEL_VERSION)));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const Outcome help = run(path(QStringLiteral(VANTEL_FULL_BINDIR "/vantel-dmm")),
                             {QStringLiteral("--help")}, {}, env);
    ASSERT_EQ(help.status, 0) << qPrintable(help.err);
    auto options = QRegularExpression(QStringLiteral("--[a-z-]+")).globalMatch(help.out);
    while (options.hasNext()) {
        const QString option = options.next().captured();
        EXPECT_TRUE(text.contains(option)) << qPrintable(option) << " is not in the man page";
    }
    for (const BackendInfo& b : known_backends())
        EXPECT_TRUE(text.contains(
            QRegularExpression(QStringLiteral("^ +%1 ").arg(QString::fromUtf8(b.name)),
                               QRegularExpression::MultilineOption)))
            << b.name << " is not in the man page";
}

TEST_F(Installed, BusStartsTheInstalledAnalyser) {
    const QString service =
        read_file(QStringLiteral(VANTEL_BINARY_DIR "/packaging/Vantel.Application.service"));
    EXPECT_TRUE(service.contains(QRegularExpression(QStringLiteral("^\\[D-BUS Service\\]$"),
                                                    QRegularExpression::MultilineOption)));
    EXPECT_EQ(entry(service, QStringLiteral("Name")), QStringLiteral("Vantel.Application"));
    const QString exec = entry(service, QStringLiteral("Exec"));
    EXPECT_EQ(exec, QStringLiteral(VANTEL_FULL_BINDIR "/vantel-analyser"));
    // Installed only beside the analyser (see EveryFileInItsPlaceAndNothingElse); then the
    // program it names is there.
    if (VANTEL_HAS_ANALYSER) {
        EXPECT_EQ(read_file(path(QStringLiteral(VANTEL_FULL_DATADIR
                                                "/dbus-1/services/Vantel.Application.service"))),
                  service);
        EXPECT_TRUE(QFileInfo(path(exec)).isExecutable());
    }
}

TEST(Package, HoldsTheInstalledFilesAndDeclaresItsLibraries) {
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    const Outcome cpack =
        run(QStringLiteral(CPACK_COMMAND),
            {QStringLiteral("--config"), QStringLiteral(VANTEL_BINARY_DIR "/CPackConfig.cmake"),
             QStringLiteral("-B"), out.path()});
    ASSERT_EQ(cpack.status, 0) << qPrintable(cpack.out + cpack.err);
    const QStringList debs = QDir(out.path()).entryList({QStringLiteral("*.deb")});
    ASSERT_EQ(debs.size(), 1) << qPrintable(debs.join(u' '));
    const QString deb = out.path() + u'/' + debs.front();

    // dpkg-shlibdeps found the libraries; the run-time plugins are declared by hand.
    const QString depends =
        run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb, QStringLiteral("Depends")}).out;
    EXPECT_TRUE(depends.contains(QStringLiteral("libqt6widgets6"))) << qPrintable(depends);
    EXPECT_TRUE(depends.contains(QStringLiteral("qt6-qpa-plugins"))) << qPrintable(depends);

    // The same files as `cmake --install`; dpkg-deb lists them as "./usr/...".
    QSet<QString> contents;
    const Outcome list = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb});
    for (const QString& line : list.out.split(u'\n', Qt::SkipEmptyParts))
        if (line.startsWith(u'-'))
            contents += line.section(QStringLiteral(" ./"), 1).prepend(u'/');
    EXPECT_EQ(contents, expected_files());
}

}  // namespace
}  // namespace vantel
