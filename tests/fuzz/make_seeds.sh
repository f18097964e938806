#!/usr/bin/env bash
# Writes the seed corpora (tests/fuzz/corpus/) from images made by mkfs.fat, mkntfs and sfdisk.
# Images go in as sparse descriptions (sparse_image.h) of their sectors that are neither all zero
# nor all FFh, so a seed of a 64 MiB volume is a few KiB. Run it again when a format's seeds
# should change; the corpora are committed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
corpus=$here/corpus
rm -rf "$corpus"
mkdir -p "$corpus"/{ondisk,volume,model,vwin32}

fat() {  # fat NAME BITS MIB
  truncate -s "$3M" "$work/$1"
  mkfs.fat -F "$2" -n SEED "$work/$1" >/dev/null
}
fat fat12 12 4
fat fat16 16 16
fat fat32 32 40
truncate -s 8M "$work/ntfs"
mkntfs -F -f -Q -q -L SEED "$work/ntfs" 2>/dev/null
truncate -s 24M "$work/mbr"
printf 'label: dos\n1MiB 8MiB 6\n9MiB 14MiB 5\n10MiB 4MiB 6\n15MiB 4MiB 7\n' | sfdisk -q "$work/mbr"
truncate -s 10M "$work/fat16part"
mkfs.fat -F 16 -n PART "$work/fat16part" >/dev/null
dd if="$work/fat16part" of="$work/mbr" bs=1M seek=1 count=8 conv=notrunc status=none
truncate -s 8M "$work/gpt"
printf 'label: gpt\n1MiB 3MiB L\n4MiB 2MiB\n' | sfdisk -q "$work/gpt"

python3 - "$work" "$corpus" <<'PY'
import random, struct, sys
work, corpus = sys.argv[1], sys.argv[2]

def sparse(path):
    data = open(path, 'rb').read()
    out = bytearray(struct.pack('<I', len(data)))
    sector, start, run = 512, None, bytearray()
    def flush():
        nonlocal out
        for at in range(0, len(run), 0xFE00):
            piece = run[at:at + 0xFE00]
            out += struct.pack('<IH', start + at, len(piece)) + piece
    for offset in range(0, len(data), sector):
        block = data[offset:offset + sector]
        keep = block.strip(b'\0') and block.strip(b'\xff')
        if keep and start is not None and start + len(run) == offset:
            run += block
        elif keep:
            if start is not None: flush()
            start, run = offset, bytearray(block)
    if start is not None: flush()
    return bytes(out)

def write(folder, name, data):
    open(f'{corpus}/{folder}/{name}', 'wb').write(data)

images = {name: sparse(f'{work}/{name}') for name in ['fat12', 'fat16', 'fat32', 'ntfs', 'mbr', 'gpt']}
for name, image in images.items():
    write('ondisk', name, b'\0' + image)
    write('volume', name, image)

ntfs = open(f'{work}/ntfs', 'rb').read()
cluster = struct.unpack_from('<H', ntfs, 11)[0] * ntfs[13]
mft = struct.unpack_from('<Q', ntfs, 48)[0] * cluster
for number in (0, 6):  # $MFT and $Bitmap
    record = ntfs[mft + number * 1024:mft + (number + 1) * 1024]
    write('ondisk', f'ntfs-record-{number}', b'\1' + record)
    at = struct.unpack_from('<H', record, 20)[0]
    while struct.unpack_from('<I', record, at)[0] != 0x80:
        at += struct.unpack_from('<I', record, at + 4)[0]
    if record[at + 8]:
        pairs = record[at + struct.unpack_from('<H', record, at + 32)[0]:]
        clusters = len(ntfs) // cluster
        write('ondisk', f'ntfs-runs-{number}', b'\2' + struct.pack('>I', clusters) + pairs[:64])

rng = random.Random(20261208)
for n in range(4):
    write('model', f'random-{n}', bytes(rng.randrange(256) for _ in range(512 << n)))

def registers(ebx=0, edx=0, ecx=0, eax=0, esi=0):
    return struct.pack('<7I', ebx, edx, ecx, eax, 0, esi, 0)
def call(selector, regs, packet=(0, 1), parameters=b''):
    head = bytes([selector]) + regs + struct.pack('<IHI', packet[0], packet[1], 0)
    return head + parameters.ljust(1024, b'\0')
fat12, fat32 = images['fat12'], images['fat32']
seeds = {
    'int25-packet': call(0, registers(ecx=0xFFFF, eax=2), (0, 4)) + fat12,
    'int25-old-form': call(0, registers(ecx=2, eax=2, edx=1)) + fat12,
    'int26-packet': call(1, registers(ecx=0xFFFF, eax=2), (1, 2)) + fat12,
    'int25-first-95': call(4, registers(ecx=0xFFFF, eax=2), (0, 1)) + fat12,
    'ioctl-media-id': call(2, registers(eax=0x440D, ebx=3, ecx=0x0866)) + fat12,
    'ioctl-parameters': call(2, registers(eax=0x440D, ebx=3, ecx=0x4860)) + fat32,
    'ioctl-lock': call(2, registers(eax=0x440D, ebx=0x0103, ecx=0x084A, edx=1)) + fat12,
    'ioctl-lock-state': call(2, registers(eax=0x440D, ebx=3, ecx=0x0870)) + fat12,
    'ioctl-unlock': call(2, registers(eax=0x440D, ebx=3, ecx=0x086A)) + fat12,
    'extended-read': call(3, registers(eax=0x7305, ecx=0xFFFF, edx=3), (2, 8)) + fat32,
    'extended-write': call(3, registers(eax=0x7305, ecx=0xFFFF, edx=3, esi=0x2001), (2, 1)) + fat32,
}
for name, data in seeds.items():
    write('vwin32', name, data)
PY
du -sh "$corpus"
