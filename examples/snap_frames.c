/* Snaps 10 frames of 384 x 288 in RGB565 into the static memory, converts
 * each to 24-bit colour and saves it as a bitmap: frame00.bmp ... frame09.bmp
 * in the directory given as the first argument (default: the current one). */
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

static int fail(const char* what, LxStatus status) {
  fprintf(stderr, "snap_frames: %s: %s\n", what, LxGetErrorString(status));
  return 1;
}

static int saveFrames(LxCardHandle card, const char* directory) {
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
    status = LxDataTransform(image, pixels, kWidth, kHeight, kSourceBits, 1);
    LxStaticMemUnlock(lock);
    if (status != LX_OK) {
      result = fail("converting", status);
      break;
    }
    char path[4096];
    snprintf(path, sizeof path, "%s/frame%02u.bmp", directory, (unsigned)frame);
    if (!writeBitmap(path, image, rowBytes)) {
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
    result = saveFrames(card, directory);
  }
  status = EndLxCard(card);
  if (status != LX_OK && result == 0) result = fail("ending card 1", status);
  return result;
}
