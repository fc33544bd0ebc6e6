// SPDX-FileCopyrightText: 2026 Tolvane Rusk <tolvane.rusk@example.org>
// SPDX-License-Identifier: GPL-2.0-or-later
// The baseline of bench/run: the program's menu pass without the menu. At
// start and for every character read, it runs "clear" through system(), as
// the program does, and writes only the prompt. Timed exactly like the
// program, it gives the cost of a bare `sh -c clear` started the same way.
#include <stdio.h>
#include <stdlib.h>

int main(void)
{
    int c = 0;
    while (c != EOF && c != '9') {
        if (system("clear") == -1)
            return 1;
        fputs("                  Select choice :", stdout);
        fflush(stdout);
        c = getchar();
    }
    return 0;
}
