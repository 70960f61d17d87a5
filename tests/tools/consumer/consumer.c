/* A host built against an installed libvostrelle. Under an emulator the
 * first conversion of a process also pays for translating the code on both
 * sides of the line, so one is made before the one shown. */
#include <stdio.h>
#include <vostrelle.h>

int main(void)
{
    printf("title %s\n", titre());
    (void)ea(0);
    printf("ea(0) %d\n", ea(0));
    return 0;
}
