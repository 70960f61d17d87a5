/* A host built against an installed libvostrelle. */
#include <stdio.h>
#include <vostrelle.h>

int main(void)
{
    printf("title %s\n", titre());
    printf("ea(0) %d\n", ea(0));
    return 0;
}
