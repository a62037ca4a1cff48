/* Links the installed library and calls its exports; prints "consumer ok" when each behaves. */
#include <KorvoLoader.h>
#include <stdio.h>
int main(void) {
  uint32_t count = 7, *values = NULL;
  ImgFrame** frames = NULL;
  if (SaveImgFile("x", 0, NULL, NULL) || AddPackage("no/such/package.pak") ||
      LoadImgFile("no/such/image.img", &count, &values, &frames))
    return 1;
  FreeImgFile(0, NULL, NULL);
  return puts("consumer ok") < 0;
}
