#pragma once

// Writes small zip archives with any entry names (including names no zip tool would store, such
// as "../evil"), so the checks on downloaded archives meet the archives they must refuse.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QtEndian>

#include <cstdint>

struct TestZipEntry {
  QByteArray name;
  QByteArray data;
  quint32 mode = 0100644;  // unix mode; 0100755 for a program, 0120777 for a link (data = target)
};

inline quint32 TestZipCrc32(const QByteArray& data) {
  quint32 crc = 0xFFFFFFFFu;
  for (const char byte : data) {
    crc ^= static_cast<quint8>(byte);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

inline bool WriteTestZip(const QString& path, const QList<TestZipEntry>& entries) {
  auto u16 = [](QByteArray& out, quint16 v) {
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
  };
  auto u32 = [](QByteArray& out, quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
  };
  QByteArray body;
  QByteArray directory;
  for (const TestZipEntry& entry : entries) {
    const quint32 crc = TestZipCrc32(entry.data);
    const quint32 offset = static_cast<quint32>(body.size());
    const auto size = static_cast<quint32>(entry.data.size());
    u32(body, 0x04034b50);
    u16(body, 10);
    u16(body, 0);
    u16(body, 0);  // stored
    u16(body, 0);
    u16(body, 0x21);
    u32(body, crc);
    u32(body, size);
    u32(body, size);
    u16(body, static_cast<quint16>(entry.name.size()));
    u16(body, 0);
    body += entry.name;
    body += entry.data;

    u32(directory, 0x02014b50);
    u16(directory, 0x031E);  // made on unix, so the mode below counts
    u16(directory, 10);
    u16(directory, 0);
    u16(directory, 0);
    u16(directory, 0);
    u16(directory, 0x21);
    u32(directory, crc);
    u32(directory, size);
    u32(directory, size);
    u16(directory, static_cast<quint16>(entry.name.size()));
    u16(directory, 0);
    u16(directory, 0);
    u16(directory, 0);
    u16(directory, 0);
    u32(directory, entry.mode << 16);
    u32(directory, offset);
    directory += entry.name;
  }
  QByteArray end;
  u32(end, 0x06054b50);
  u16(end, 0);
  u16(end, 0);
  u16(end, static_cast<quint16>(entries.size()));
  u16(end, static_cast<quint16>(entries.size()));
  u32(end, static_cast<quint32>(directory.size()));
  u32(end, static_cast<quint32>(body.size()));
  u16(end, 0);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  const QByteArray all = body + directory + end;
  return file.write(all) == all.size();
}
