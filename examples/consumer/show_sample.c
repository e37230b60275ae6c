/* Prints what the embedded sample holds: its size and its first words. */
#include <stdio.h>

#include "sample.bmp.h"

int main(void)
{
    printf("C: %d x %d, %d pixels\n", SAMPLE_WIDTH, SAMPLE_HEIGHT, SAMPLE_SIZE);
    printf("first words: 0x%08lX 0x%08lX 0x%08lX 0x%08lX\n", sample_Bitmap[0], sample_Bitmap[1],
           sample_Bitmap[4], sample_Bitmap[5]);
    return 0;
}
