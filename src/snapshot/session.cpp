// The snapshot session of one volume object: started once while opening, ended at destruction.
#include <Kestro32.h>

#include <cstring>

using namespace win32;

namespace {

constexpr size_t kPathCapacity = MAX_PATH;  // characters of m_szSnapshotPath, terminator included

}  // namespace

int CKestro32::StartVss(WCHAR* rootPath) {
  if (m_bVssActive) return 1;
  if (rootPath == nullptr) return 0;
  const size_t rootLength = wcslen(rootPath);
  if (rootLength >= kPathCapacity) return 0;
  if (!m_bUseVss) {
    std::memset(m_szSnapshotPath, 0, sizeof m_szSnapshotPath);
    std::memcpy(m_szSnapshotPath, rootPath, (rootLength + 1) * sizeof(WCHAR));
    return 0;
  }
  int length = static_cast<int>(rootLength);
  m_Requester.VssBackupComplete();
  std::memset(m_szSnapshotPath, 0, sizeof m_szSnapshotPath);
  const int failed = m_Requester.VssStartBackupNoWriter(rootPath, m_szSnapshotPath, length);
  // A requester that filled the buffer without a terminator is cut at its last character.
  m_szSnapshotPath[kPathCapacity - 1] = 0;
  if (failed) return 0;
  const size_t pathLength = wcslen(m_szSnapshotPath);
  if (pathLength > 0 && m_szSnapshotPath[pathLength - 1] == 0x5C) {
    m_szSnapshotPath[pathLength - 1] = 0;
  }
  m_bVssActive = 1;
  return 1;
}

void CKestro32::EndVss() {
  if (m_bVssActive) m_Requester.VssBackupComplete();
  m_bVssActive = 0;
}
