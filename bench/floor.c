/* The floor for a fresh load: read every file named in a list (one path per
   line), raw-deflate it at level 6 with its CRC-32, and append the result to
   one output file. No headers, no directory: only the work no ZIP writer can
   avoid. Usage: floor LIST OUTPUT [--fsync] */

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#define BLOCK 131072

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: floor LIST OUTPUT [--fsync]\n");
    return 2;
  }
  FILE* list = fopen(argv[1], "r");
  FILE* out = fopen(argv[2], "wb");
  if (!list || !out) return 1;
  static unsigned char in[BLOCK], buf[BLOCK + BLOCK / 8 + 1024];
  char path[4096];
  z_stream zs;
  memset(&zs, 0, sizeof zs);
  if (deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return 1;
  unsigned long total = 0;
  while (fgets(path, sizeof path, list)) {
    path[strcspn(path, "\n")] = 0;
    FILE* f = fopen(path, "rb");
    if (!f) continue;
    deflateReset(&zs);
    uLong crc = crc32(0L, Z_NULL, 0);
    int flush;
    do {
      size_t got = fread(in, 1, BLOCK, f);
      crc = crc32(crc, in, (uInt)got);
      flush = got < BLOCK ? Z_FINISH : Z_NO_FLUSH;
      zs.next_in = in;
      zs.avail_in = (uInt)got;
      do {
        zs.next_out = buf;
        zs.avail_out = sizeof buf;
        deflate(&zs, flush);
        fwrite(buf, 1, sizeof buf - zs.avail_out, out);
      } while (zs.avail_out == 0);
    } while (flush != Z_FINISH);
    total += crc & 1;
    fclose(f);
  }
  deflateEnd(&zs);
  fflush(out);
  if (argc > 3 && strcmp(argv[3], "--fsync") == 0) {
    extern int fsync(int);
    extern int fileno(FILE*);
    fsync(fileno(out));
  }
  fclose(out);
  return total == 0xffffffff;
}
