/* Links the installed library and calls its exports. Prints "consumer ok" when each behaves. */
#include <KorvoLoader.h>
#include <stdio.h>

int main(void) {
  uint32_t frameCount = 7;
  uint32_t* frameValues = NULL;
  ImgFrame** frames = NULL;
  if (SaveImgFile("x", 0, NULL, NULL)) return 1;
  if (AddPackage("no/such/package.pak")) return 2;
  if (LoadImgFile("no/such/image.img", &frameCount, &frameValues, &frames)) return 3;
  FreeImgFile(0, NULL, NULL);
  printf("consumer ok\n");
  return 0;
}
