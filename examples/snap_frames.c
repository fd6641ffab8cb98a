/* Snaps 10 frames of 384 x 288 in RGB565 into the static memory, converts
 * each to 24-bit colour and saves it: frame00.bmp ... frame09.bmp (or .png)
 * in the directory given as the first argument (default: the current one).
 * The second argument chooses the file format: bmp (default) or png. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <lx/data_transform.h>
#include <lx/video.h>

enum { kFrames = 10, kWidth = 384, kHeight = 288, kSourceBits = 16 };

static void putLittle(uint8_t* at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = (uint8_t)(value >> (8 * i));
}

/* A 24-bit bitmap; rows bottom-up, as LxDataTransform writes them when asked to flip. */
static int writeBitmap(const char* path, const uint8_t* rows, uint32_t rowBytes) {
  uint8_t header[54];
  memset(header, 0, sizeof header);
  const uint32_t imageBytes = rowBytes * kHeight;
  header[0] = 'B';
  header[1] = 'M';
  putLittle(header + 2, 54 + imageBytes, 4);
  putLittle(header + 10, 54, 4);
  putLittle(header + 14, 40, 4);
  putLittle(header + 18, kWidth, 4);
  putLittle(header + 22, kHeight, 4);
  putLittle(header + 26, 1, 2);
  putLittle(header + 28, 24, 2);
  putLittle(header + 34, imageBytes, 4);
  FILE* file = fopen(path, "wb");
  if (file == NULL) return 0;
  const int written = fwrite(header, 1, sizeof header, file) == sizeof header &&
                      fwrite(rows, 1, imageBytes, file) == imageBytes;
  return fclose(file) == 0 && written;
}

static uint32_t crc32Of(const uint8_t* bytes, size_t count, uint32_t crc) {
  crc = ~crc;
  for (size_t i = 0; i < count; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

static void putBig(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = (uint8_t)(value >> (24 - 8 * i));
}

static int writeChunk(FILE* file, const char* type, const uint8_t* data, uint32_t length) {
  uint8_t head[8];
  putBig(head, length);
  memcpy(head + 4, type, 4);
  uint8_t tail[4];
  putBig(tail, crc32Of(data, length, crc32Of(head + 4, 4, 0)));
  return fwrite(head, 1, 8, file) == 8 && fwrite(data, 1, length, file) == length && fwrite(tail, 1, 4, file) == 4;
}

/* An 8-bit RGB PNG from top-down B,G,R rows; the image data is zlib with
 * stored (uncompressed) blocks, so no compression library is needed. */
static int writePng(const char* path, const uint8_t* rows, uint32_t rowBytes) {
  const size_t rawBytes = (size_t)(kWidth * 3 + 1) * kHeight;
  const size_t blocks = (rawBytes + 65534) / 65535;
  const size_t zlibBytes = 2 + rawBytes + 5 * blocks + 4;
  uint8_t* raw = malloc(rawBytes);
  uint8_t* zlib = malloc(zlibBytes);
  int ok = raw != NULL && zlib != NULL;
  if (ok) {
    uint8_t* out = raw;
    for (int y = 0; y < kHeight; ++y) {
      *out++ = 0; /* no filter */
      const uint8_t* bgr = rows + (size_t)y * rowBytes;
      for (int x = 0; x < kWidth; ++x, bgr += 3) {
        *out++ = bgr[2];
        *out++ = bgr[1];
        *out++ = bgr[0];
      }
    }
    uint8_t* z = zlib;
    *z++ = 0x78;
    *z++ = 0x01;
    uint32_t a = 1, b = 0;
    for (size_t done = 0; done < rawBytes;) {
      const uint32_t length = rawBytes - done > 65535 ? 65535 : (uint32_t)(rawBytes - done);
      *z++ = done + length == rawBytes ? 1 : 0;
      *z++ = (uint8_t)length;
      *z++ = (uint8_t)(length >> 8);
      *z++ = (uint8_t)~length;
      *z++ = (uint8_t)(~length >> 8);
      memcpy(z, raw + done, length);
      for (uint32_t i = 0; i < length; ++i) {
        a = (a + raw[done + i]) % 65521;
        b = (b + a) % 65521;
      }
      z += length;
      done += length;
    }
    putBig(z, (b << 16) | a);

    uint8_t header[13];
    putBig(header, kWidth);
    putBig(header + 4, kHeight);
    header[8] = 8;  /* bits per channel */
    header[9] = 2;  /* RGB */
    header[10] = header[11] = header[12] = 0;
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    FILE* file = fopen(path, "wb");
    ok = file != NULL;
    if (ok) {
      ok = fwrite(kSignature, 1, 8, file) == 8 && writeChunk(file, "IHDR", header, sizeof header) &&
           writeChunk(file, "IDAT", zlib, (uint32_t)zlibBytes) && writeChunk(file, "IEND", kSignature, 0);
      ok = fclose(file) == 0 && ok;
    }
  }
  free(raw);
  free(zlib);
  return ok;
}

static int fail(const char* what, LxStatus status) {
  fprintf(stderr, "snap_frames: %s: %s\n", what, LxGetErrorString(status));
  return 1;
}

static int saveFrames(LxCardHandle card, const char* directory, int png) {
  const uint32_t frameBytes = kWidth * kHeight * (uint32_t)LxBytesPerPixel(LX_VIDEO_FORMAT_RGB565);
  LxStatus status = LxSnapShot(card, 0, 0, 1, kFrames);
  if (status != LX_OK) return fail("snapping", status);

  const uint32_t rowBytes = (kWidth * 3 + 3) & ~3u;
  uint8_t* image = malloc((size_t)rowBytes * kHeight);
  if (image == NULL) return 1;
  int result = 0;
  for (uint32_t frame = 0; frame < kFrames && result == 0; ++frame) {
    LxStaticMemLockHandle lock = NULL;
    void* pixels = NULL;
    status = LxStaticMemLock(frame * frameBytes, frameBytes, &lock, &pixels);
    if (status != LX_OK) {
      result = fail("mapping a frame", status);
      break;
    }
    /* 384 RGB565 pixels are 768 bytes: the card's lines are already 4-byte aligned. */
    /* Bitmaps store their rows bottom-up (flip), PNG files top-down. */
    status = LxDataTransform(image, pixels, kWidth, kHeight, kSourceBits, png ? 0 : 1);
    LxStaticMemUnlock(lock);
    if (status != LX_OK) {
      result = fail("converting", status);
      break;
    }
    char path[4096];
    snprintf(path, sizeof path, "%s/frame%02u.%s", directory, (unsigned)frame, png ? "png" : "bmp");
    if (!(png ? writePng(path, image, rowBytes) : writeBitmap(path, image, rowBytes))) {
      fprintf(stderr, "snap_frames: cannot write %s\n", path);
      result = 1;
      break;
    }
    uint32_t sum = 2166136261u; /* FNV-1a */
    for (size_t i = 0; i < (size_t)rowBytes * kHeight; ++i) sum = (sum ^ image[i]) * 16777619u;
    printf("frame %u: %s %dx%d, checksum %08x\n", (unsigned)frame, path, kWidth, kHeight, (unsigned)sum);
  }
  free(image);
  return result;
}

int main(int argc, char** argv) {
  const char* directory = argc > 1 ? argv[1] : ".";
  const char* format = argc > 2 ? argv[2] : "bmp";
  if (strcmp(format, "bmp") != 0 && strcmp(format, "png") != 0) {
    fprintf(stderr, "usage: snap_frames [directory [bmp|png]]\n");
    return 2;
  }
  uint32_t pages = 0;
  LxStatus status = LxGetStaticMem(&pages);
  if (status != LX_OK) return fail("static memory", status);
  if ((uint64_t)pages * LX_STATIC_MEM_PAGE_BYTES < (uint64_t)kFrames * kWidth * kHeight * 2) {
    fprintf(stderr, "snap_frames: %u pages of static memory hold fewer than %d frames\n", (unsigned)pages, kFrames);
    return 1;
  }

  LxCardHandle card = NULL;
  status = BeginLxCard(1, &card);
  if (status != LX_OK) return fail("opening card 1", status);
  int result = 0;
  if ((status = LxSetVideoFormat(card, LX_VIDEO_FORMAT_RGB565)) != LX_OK ||
      (status = LxSetScanMode(card, LX_SCAN_MODE_FRAME)) != LX_OK ||
      (status = LxSetOutputWindow(card, 0, 0, kWidth, kHeight)) != LX_OK) {
    result = fail("setting the picture", status);
  } else {
    result = saveFrames(card, directory, strcmp(format, "png") == 0);
  }
  status = EndLxCard(card);
  if (status != LX_OK && result == 0) result = fail("ending card 1", status);
  return result;
}
