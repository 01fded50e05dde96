// korvan-nat as the desktop runs it, ended from outside: SIGTERM (logout, shutdown), SIGINT
// (Ctrl-C in a terminal) and SIGHUP (the terminal closed) end the window as "退出" does: exit
// status 0 and the shutdown log of the information panel in the state folder's Log/.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <span>
#include <string>

#include "core/image/firmware_image.h"
#include "lib/emulator.h"

using namespace korvan;

class ShutdownSignalTest : public QObject {
  Q_OBJECT

 private slots:
  void endsAsExitDoes_data();
  void endsAsExitDoes();
};

void ShutdownSignalTest::endsAsExitDoes_data() {
  QTest::addColumn<int>("signalNumber");
  QTest::newRow("SIGTERM") << SIGTERM;
  QTest::newRow("SIGINT") << SIGINT;
  QTest::newRow("SIGHUP") << SIGHUP;
}

void ShutdownSignalTest::endsAsExitDoes() {
  QFETCH(int, signalNumber);
  // The program in a folder of its own, with its firmware image, so that nothing stops its
  // first showing and its log goes there.
  QTemporaryDir dir;
  const QString program = dir.filePath("korvan-nat");
  QVERIFY(QFile::copy(KORVAN_NAT, program));
  QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
  std::string firmware = "firmware Korvan200NAT V2.9 for the test";
  firmware.resize(4096, '\0');
  FirmwarePackOptions pack;
  pack.version = "V2.9";  // the programmers' own version: no upgrade is offered
  std::string error;
  const std::vector<std::uint8_t> kfw = PackFirmwareImage(
      std::span(reinterpret_cast<const std::uint8_t*>(firmware.data()), firmware.size()), pack,
      error);
  QVERIFY2(!kfw.empty(), error.c_str());
  QFile image(dir.filePath(kFirmwareFileName));
  QVERIFY(image.open(QIODevice::WriteOnly));
  image.write(reinterpret_cast<const char*>(kfw.data()), static_cast<qint64>(kfw.size()));
  image.close();

  sim::Emulator emulator({});
  QVERIFY2(emulator.Start(&error), error.c_str());
  QString ports;
  for (const std::string& path : emulator.Paths()) {
    ports += (ports.isEmpty() ? "" : ":") + QString::fromStdString(path);
  }

  QProcess station;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  environment.insert("KORVAN_PORTS", ports);
  environment.insert("XDG_STATE_HOME", dir.filePath("state"));
  station.setProcessEnvironment(environment);
  station.setProcessChannelMode(QProcess::ForwardedChannels);
  station.start(program, {});
  QVERIFY(station.waitForStarted(10000));

  // The device search reached every programmer: the panel holds more than six lines.
  const auto searched = [&emulator] {
    for (int n = 1; n <= 4; ++n) {
      if (emulator.Snapshot(n).requests == 0) return false;
    }
    return true;
  };
  QTRY_VERIFY_WITH_TIMEOUT(searched(), 20000);

  QCOMPARE(::kill(static_cast<pid_t>(station.processId()), signalNumber), 0);
  QVERIFY(station.waitForFinished(20000));
  QCOMPARE(station.exitStatus(), QProcess::NormalExit);
  QCOMPARE(station.exitCode(), 0);

  // A copy outside the build tree counts as installed: its logs go to the state folder.
  const QString logDir = dir.filePath("state/korvan200nat/Log");
  const QStringList logs = QDir(logDir).entryList({"NAT_*.log"}, QDir::Files);
  QCOMPARE(logs.size(), 1);
  QFile log(logDir + "/" + logs.first());
  QVERIFY(log.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(log.readAll());
  QVERIFY2(text.contains("Hello! Korvan200NAT User!"), qPrintable(text));
  QVERIFY2(text.contains("查找设备4"), qPrintable(text));
  QVERIFY(text.contains("\r\n"));
}

QTEST_MAIN(ShutdownSignalTest)
#include "shutdown_signal_test.moc"
