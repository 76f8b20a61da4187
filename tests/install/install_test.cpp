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

#include "app/backends.h"
#include "csv_table.h"

namespace vantel {
namespace {

using namespace Qt::StringLiterals;

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
        return {-1, {}, program + u" did not finish: "_s + p.errorString()};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QString read_file(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The value of `key` in a desktop-entry style file ("Key=value" lines).
QString entry(const QString& text, const QString& key) {
    const auto m = QRegularExpression(u"^%1=(.*)$"_s.arg(key), QRegularExpression::MultilineOption)
                       .match(text);
    return m.hasMatch() ? m.captured(1) : QString();
}

// Where a file goes on the machine.
QString bin(const QString& name) {
    return QStringLiteral(VANTEL_FULL_BINDIR "/") + name;
}
QString data(const QString& name) {
    return QStringLiteral(VANTEL_FULL_DATADIR "/") + name;
}
QString man(const QString& program) {
    return QStringLiteral(VANTEL_FULL_MANDIR "/man1/%1.1.gz").arg(program);
}

// The files this build installs (installed_files.csv), as paths on the machine; with
// `programs_only`, the names of its programs.
QStringList installed(bool programs_only = false) {
    QStringList files;
    for (const testing_support::CsvRow& row : testing_support::csv_beside("installed_files.csv")) {
        const QString path = QString::fromStdString(row["path"]);
        if ((row.flag("analyser_only") && !VANTEL_HAS_ANALYSER) ||
            (programs_only && row["place"] != "bin"))
            continue;
        files << (programs_only           ? path
                  : row["place"] == "bin" ? bin(path)
                  : row["place"] == "man" ? man(path)
                                          : data(path));
    }
    return files;
}
QSet<QString> expected_files() {
    const QStringList files = installed();
    return {files.begin(), files.end()};
}

// Every "--option" in `text`.
QStringList long_options(const QString& text) {
    QStringList options;
    auto matches = QRegularExpression(u"--[a-z-]+"_s).globalMatch(text);
    while (matches.hasNext())
        options << matches.next().captured();
    options.removeDuplicates();
    return options;
}

// What bash offers for `words` (the last one being completed) from the completion file.
QStringList completed(const QString& file, const QString& function, const QStringList& words) {
    QString quoted;
    for (const QString& w : words)
        quoted += u" '"_s + w + u'\'';
    const QString script =
        u"source '%1'; COMP_WORDS=(%2); COMP_CWORD=%3; %4; "
        "printf '%s\\n' \"${COMPREPLY[@]}\""_s.arg(file, quoted)
            .arg(words.size() - 1)
            .arg(function);
    return run(u"bash"_s, {u"-c"_s, script}).out.split(u'\n', Qt::SkipEmptyParts);
}

QSet<QString> files_under(const QString& root) {
    QSet<QString> files;
    for (QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();)
        files += it.next().mid(root.size());
    return files;
}

// Installs this build tree into a fresh DESTDIR; `installed` is a path as it would be on the
// machine. Every file in its place and nothing else, each valid for the tool that reads it.
TEST(Install, PutsEveryFileInPlaceEachValidAndNamingTheInstalledProgram) {
    QTemporaryDir destdir;
    ASSERT_TRUE(destdir.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DESTDIR"_s, destdir.path());
    const Outcome install = run(QStringLiteral(CMAKE_COMMAND),
                                {u"--install"_s, QStringLiteral(VANTEL_BINARY_DIR)}, {}, env);
    ASSERT_EQ(install.status, 0) << qPrintable(install.out + install.err);
    const auto path = [&](const QString& installed) { return destdir.path() + installed; };
    EXPECT_EQ(files_under(destdir.path()), expected_files());
    EXPECT_TRUE(QFileInfo(path(bin(u"vantel-dmm"_s))).isExecutable());

    // The desktop's menu: a valid entry naming the installed program and icon.
    const QString desktop = path(data(u"applications/vantel-dmm.desktop"_s));
    const Outcome check = run(u"desktop-file-validate"_s, {desktop});
    EXPECT_EQ(check.status, 0) << qPrintable(check.err);
    EXPECT_EQ(check.out + check.err, QString());
    const QString text = read_file(desktop);
    const QString program = entry(text, u"Exec"_s).section(u' ', 0, 0);
    EXPECT_TRUE(QFileInfo(path(bin(program))).isExecutable()) << qPrintable(program);
    const QString icon = entry(text, u"Icon"_s);
    EXPECT_TRUE(QFileInfo::exists(path(data(u"icons/hicolor/scalable/apps/%1.svg"_s.arg(icon)))))
        << qPrintable(icon);

    // The icon theme: the icon draws at every size.
    EXPECT_TRUE(
        QSvgRenderer(path(data(u"icons/hicolor/scalable/apps/vantel-dmm.svg"_s))).isValid());
    for (const int size : {16, 32, 48}) {
        const QImage png(path(data(u"icons/hicolor/%1x%1/apps/vantel-dmm.png"_s.arg(size))));
        ASSERT_EQ(png.size(), QSize(size, size));
        // The meter's body fills the square; its rounded corners stay clear.
        EXPECT_EQ(qAlpha(png.pixel(size / 2, size / 2)), 255) << size;
        EXPECT_EQ(qAlpha(png.pixel(0, 0)), 0) << size;
    }

    // man: each page formats without warnings and covers every option of its program's --help;
    // bash completes every one of them.
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    for (const QString& command : installed(true)) {
        SCOPED_TRACE(command.toStdString());
        const Outcome page = run(u"gzip"_s, {u"-dc"_s, path(man(command))});
        ASSERT_EQ(page.status, 0) << qPrintable(page.err);
        const Outcome man = run(u"groff"_s,
                                {u"-man"_s, u"-ww"_s, u"-Tascii"_s,
                                 u"-P-cbou"_s},  // plain text: no bold, no underlining
                                page.out.toUtf8());
        EXPECT_EQ(man.status, 0);
        EXPECT_EQ(man.err, QString());
        EXPECT_TRUE(man.out.contains(QStringLiteral("Vantel DMM " VANTEL_VERSION)));
        const Outcome help = run(path(bin(command)), {u"--help"_s}, {}, env);
        ASSERT_EQ(help.status, 0) << qPrintable(help.err);
        const QString completion = path(data(u"bash-completion/completions/"_s + command));
        const QString function = u'_' + QString(command).replace(u'-', u'_');
        const QStringList offered = completed(completion, function, {command, u"--"_s});
        for (const QString& option : long_options(help.out)) {
            EXPECT_TRUE(man.out.contains(option))
                << qPrintable(option) << " is not in the man page";
            EXPECT_TRUE(offered.contains(option)) << qPrintable(option) << " is not completed";
        }
        EXPECT_EQ(offered.size(), long_options(help.out).size()) << qPrintable(offered.join(u' '));
        if (command == u"vantel-dmm"_s) {
            const QStringList backends =
                completed(completion, function, {command, u"--analyser"_s, {}});
            for (const BackendInfo& b : known_backends()) {
                const QString name = QString::fromUtf8(b.name);
                EXPECT_TRUE(man.out.contains(
                    QRegularExpression(u"^ +%1 "_s.arg(name), QRegularExpression::MultilineOption)))
                    << b.name << " is not in the man page";
                EXPECT_TRUE(backends.contains(name)) << b.name << " is not completed";
            }
            // The exit codes, one table.
            for (const char* code : {"0", "1", "2", "3"})
                EXPECT_TRUE(man.out.contains(QRegularExpression(
                    u"^EXIT STATUS$[\\s\\S]*^       %1 "_s.arg(QLatin1String(code)),
                    QRegularExpression::MultilineOption)))
                    << "exit status " << code;
        }
    }

    // AppStream: valid metadata that names the installed desktop entry, this version and the
    // screenshot.
    const QString metainfo = path(data(u"metainfo/example.vantel.dmm.metainfo.xml"_s));
    const Outcome valid = run(u"appstreamcli"_s, {u"validate"_s, u"--no-net"_s, metainfo});
    EXPECT_EQ(valid.status, 0) << qPrintable(valid.out + valid.err);
    EXPECT_FALSE(
        valid.out.contains(QRegularExpression(u"^[EW]: "_s, QRegularExpression::MultilineOption)))
        << qPrintable(valid.out);
    const QString meta = read_file(metainfo);
    const QString launchable =
        meta.section(u"<launchable type=\"desktop-id\">"_s, 1).section(u'<', 0, 0);
    EXPECT_TRUE(QFileInfo::exists(path(data(u"applications/"_s + launchable))))
        << qPrintable(launchable);
    EXPECT_TRUE(meta.contains(QStringLiteral("<release version=\"" VANTEL_VERSION "\"")));
    EXPECT_TRUE(meta.contains(QRegularExpression(
        u"<screenshot type=\"default\">\\s*<caption>[^<]+</caption>\\s*<image>https://[^<]+\\.png</image>"_s)));

    // The session bus: its service file starts the installed analyser, installed only beside it.
    const QString service =
        read_file(QStringLiteral(VANTEL_BINARY_DIR "/packaging/Vantel.Application.service"));
    EXPECT_TRUE(service.contains(
        QRegularExpression(u"^\\[D-BUS Service\\]$"_s, QRegularExpression::MultilineOption)));
    EXPECT_EQ(entry(service, u"Name"_s), u"Vantel.Application"_s);
    const QString exec = entry(service, u"Exec"_s);
    EXPECT_EQ(exec, bin(u"vantel-analyser"_s));
    if (VANTEL_HAS_ANALYSER) {
        EXPECT_EQ(read_file(path(data(u"dbus-1/services/Vantel.Application.service"_s))), service);
        EXPECT_TRUE(QFileInfo(path(exec)).isExecutable());
    }
}

TEST(Package, HoldsTheInstalledFilesAndDeclaresItsLibraries) {
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    const Outcome cpack =
        run(QStringLiteral(CPACK_COMMAND),
            {u"--config"_s, QStringLiteral(VANTEL_BINARY_DIR "/CPackConfig.cmake"), u"-B"_s,
             out.path()});
    ASSERT_EQ(cpack.status, 0) << qPrintable(cpack.out + cpack.err);
    const QStringList debs = QDir(out.path()).entryList({u"*.deb"_s});
    ASSERT_EQ(debs.size(), 1) << qPrintable(debs.join(u' '));
    const QString deb = out.path() + u'/' + debs.front();

    // dpkg-shlibdeps found the libraries; the run-time plugins are declared by hand.
    const QString depends = run(u"dpkg-deb"_s, {u"-f"_s, deb, u"Depends"_s}).out;
    EXPECT_TRUE(depends.contains(u"libqt6widgets6"_s)) << qPrintable(depends);
    EXPECT_TRUE(depends.contains(u"qt6-qpa-plugins"_s)) << qPrintable(depends);

    // The same files as `cmake --install`; dpkg-deb lists them as "./usr/...".
    QSet<QString> contents;
    const Outcome list = run(u"dpkg-deb"_s, {u"-c"_s, deb});
    for (const QString& line : list.out.split(u'\n', Qt::SkipEmptyParts))
        if (line.startsWith(u'-'))
            contents += line.section(u" ./"_s, 1).prepend(u'/');
    EXPECT_EQ(contents, expected_files());
}

}  // namespace
}  // namespace vantel
