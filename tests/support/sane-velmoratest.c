/* A SANE backend for Velmora's tests: one flatbed scanner with a "copy" and an "email" button
 * whose presses a test makes by counting them up in a file.
 *
 * libsane's dll backend loads it as libsane-velmoratest.so.1 from LD_LIBRARY_PATH when the
 * dll.conf of SANE_CONFIG_DIR names "velmoratest".
 *
 * VELMORA_TEST_BUTTON   the counter file: lines "copy N" and "email N". A button option reads
 *                       true once for every time its counter has grown since this handle last
 *                       read it (a latched press); the counters at sane_open are the baseline.
 * VELMORA_TEST_BUTTON_HELD=1  the buttons report their state instead, as other backends do: a
 *                       button reads true while its counter is odd (held down).
 * VELMORA_TEST_BUTTON_NONE=1  the device has no button options.
 * <VELMORA_TEST_BUTTON>.lock  held (flock) while the device is open: like a USB scanner, one
 *                       process at a time; sane_open answers SANE_STATUS_DEVICE_BUSY otherwise.
 * <VELMORA_TEST_BUTTON>.scans one line appended per completed page.
 *
 * Pages: white, 8-bit RGB or grey at the set resolution and area, with a black frame 2 mm wide
 * whose outer edge lies 10 mm inside the edges of the 210 x 297 mm bed (in bed coordinates, so
 * a smaller area crops it). */

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#define BED_W 210.0
#define BED_H 297.0
#define FRAME_AT 10.0
#define FRAME_W 2.0

enum {
    OPT_COUNT,
    OPT_MODE,
    OPT_RESOLUTION,
    OPT_TL_X,
    OPT_TL_Y,
    OPT_BR_X,
    OPT_BR_Y,
    OPT_BUTTON_GROUP,
    OPT_COPY,
    OPT_EMAIL,
    OPT_ALL
};

#define BUTTONS 2
static const char* const buttonNames[BUTTONS] = {"copy", "email"};

static SANE_String_Const modeList[] = {SANE_VALUE_SCAN_MODE_COLOR, SANE_VALUE_SCAN_MODE_GRAY, NULL};
static const SANE_Word resolutionList[] = {3, 75, 150, 300};
static const SANE_Range xRange = {SANE_FIX(0), SANE_FIX(BED_W), 0};
static const SANE_Range yRange = {SANE_FIX(0), SANE_FIX(BED_H), 0};

static const SANE_Device device = {"0", "Velmora", "Tastenscanner", "flatbed scanner"};
static const SANE_Device* deviceList[] = {&device, NULL};
static const SANE_Device* noDevices[] = {NULL};

typedef struct {
    SANE_Option_Descriptor opt[OPT_ALL];
    int optionCount;
    char mode[16];
    SANE_Word resolution;
    SANE_Word area[4]; /* tl-x, tl-y, br-x, br-y */
    long seen[BUTTONS];
    int lockFd;
    int scanning;
    SANE_Parameters params;
    SANE_Int line, column; /* next byte to deliver */
    double left, top;      /* mm of the bed at the page's first pixel */
} Scanner;

static int initialised;

static const char* ButtonFile(void) {
    const char* file = getenv("VELMORA_TEST_BUTTON");
    return file && *file ? file : NULL;
}

static int ButtonsHeld(void) {
    const char* held = getenv("VELMORA_TEST_BUTTON_HELD");
    return held && strcmp(held, "1") == 0;
}

static int HasButtons(void) {
    const char* none = getenv("VELMORA_TEST_BUTTON_NONE");
    return !(none && strcmp(none, "1") == 0);
}

/* The counters of the button file; a missing file or line counts as 0. */
static void ReadCounters(long counters[BUTTONS]) {
    const char* name = ButtonFile();
    FILE* file = name ? fopen(name, "r") : NULL;
    char line[128];
    int i;
    for (i = 0; i < BUTTONS; ++i)
        counters[i] = 0;
    if (!file)
        return;
    while (fgets(line, sizeof line, file)) {
        char word[32];
        long value;
        if (sscanf(line, "%31s %ld", word, &value) != 2)
            continue;
        for (i = 0; i < BUTTONS; ++i)
            if (strcmp(word, buttonNames[i]) == 0)
                counters[i] = value;
    }
    fclose(file);
}

static char* SideFile(const char* suffix) {
    const char* base = ButtonFile();
    char* path;
    if (!base)
        return NULL;
    path = malloc(strlen(base) + strlen(suffix) + 1);
    if (path) {
        strcpy(path, base);
        strcat(path, suffix);
    }
    return path;
}

static void InitOptions(Scanner* s) {
    SANE_Option_Descriptor* o = s->opt;
    memset(o, 0, sizeof s->opt);
    o[OPT_COUNT].name = SANE_NAME_NUM_OPTIONS;
    o[OPT_COUNT].title = SANE_TITLE_NUM_OPTIONS;
    o[OPT_COUNT].type = SANE_TYPE_INT;
    o[OPT_COUNT].size = sizeof(SANE_Word);
    o[OPT_COUNT].cap = SANE_CAP_SOFT_DETECT;

    o[OPT_MODE].name = SANE_NAME_SCAN_MODE;
    o[OPT_MODE].title = SANE_TITLE_SCAN_MODE;
    o[OPT_MODE].type = SANE_TYPE_STRING;
    o[OPT_MODE].size = sizeof s->mode;
    o[OPT_MODE].cap = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
    o[OPT_MODE].constraint_type = SANE_CONSTRAINT_STRING_LIST;
    o[OPT_MODE].constraint.string_list = modeList;

    o[OPT_RESOLUTION].name = SANE_NAME_SCAN_RESOLUTION;
    o[OPT_RESOLUTION].title = SANE_TITLE_SCAN_RESOLUTION;
    o[OPT_RESOLUTION].type = SANE_TYPE_INT;
    o[OPT_RESOLUTION].unit = SANE_UNIT_DPI;
    o[OPT_RESOLUTION].size = sizeof(SANE_Word);
    o[OPT_RESOLUTION].cap = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
    o[OPT_RESOLUTION].constraint_type = SANE_CONSTRAINT_WORD_LIST;
    o[OPT_RESOLUTION].constraint.word_list = resolutionList;

    {
        static const char* const names[4] = {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y,
                                             SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y};
        static const char* const titles[4] = {SANE_TITLE_SCAN_TL_X, SANE_TITLE_SCAN_TL_Y,
                                              SANE_TITLE_SCAN_BR_X, SANE_TITLE_SCAN_BR_Y};
        int k;
        for (k = 0; k < 4; ++k) {
            SANE_Option_Descriptor* d = &o[OPT_TL_X + k];
            d->name = names[k];
            d->title = titles[k];
            d->type = SANE_TYPE_FIXED;
            d->unit = SANE_UNIT_MM;
            d->size = sizeof(SANE_Word);
            d->cap = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
            d->constraint_type = SANE_CONSTRAINT_RANGE;
            d->constraint.range = k % 2 == 0 ? &xRange : &yRange;
        }
    }

    o[OPT_BUTTON_GROUP].name = "";
    o[OPT_BUTTON_GROUP].title = "Buttons";
    o[OPT_BUTTON_GROUP].type = SANE_TYPE_GROUP;

    {
        int k;
        for (k = 0; k < BUTTONS; ++k) {
            SANE_Option_Descriptor* d = &o[OPT_COPY + k];
            d->name = buttonNames[k];
            d->title = buttonNames[k];
            d->type = SANE_TYPE_BOOL;
            d->size = sizeof(SANE_Word);
            d->cap = SANE_CAP_HARD_SELECT | SANE_CAP_SOFT_DETECT;
        }
    }
    {
        /* Front-ends print every description: none may be null. */
        int k;
        for (k = 0; k < OPT_ALL; ++k)
            if (!o[k].desc)
                o[k].desc = o[k].title;
    }
    o[OPT_COPY].desc = "The copy button (read only)";
    o[OPT_EMAIL].desc = "The e-mail button (read only)";
    s->optionCount = HasButtons() ? OPT_ALL : OPT_BUTTON_GROUP;
}

SANE_Status sane_velmoratest_init(SANE_Int* version, SANE_Auth_Callback authorize) {
    (void)authorize;
    if (version)
        *version = SANE_VERSION_CODE(SANE_CURRENT_MAJOR, 0, 1);
    initialised = 1;
    return SANE_STATUS_GOOD;
}

void sane_velmoratest_exit(void) {
    initialised = 0;
}

SANE_Status sane_velmoratest_get_devices(const SANE_Device*** list, SANE_Bool localOnly) {
    (void)localOnly;
    if (!initialised)
        return SANE_STATUS_INVAL;
    *list = ButtonFile() ? deviceList : noDevices;
    return SANE_STATUS_GOOD;
}

SANE_Status sane_velmoratest_open(SANE_String_Const name, SANE_Handle* handle) {
    Scanner* s;
    char* lockPath;
    int fd;
    if (!initialised || !ButtonFile())
        return SANE_STATUS_INVAL;
    if (name && *name && strcmp(name, device.name) != 0)
        return SANE_STATUS_INVAL;
    lockPath = SideFile(".lock");
    if (!lockPath)
        return SANE_STATUS_NO_MEM;
    fd = open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    free(lockPath);
    if (fd < 0)
        return SANE_STATUS_ACCESS_DENIED;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int busy = errno == EWOULDBLOCK;
        close(fd);
        return busy ? SANE_STATUS_DEVICE_BUSY : SANE_STATUS_IO_ERROR;
    }
    s = calloc(1, sizeof *s);
    if (!s) {
        close(fd);
        return SANE_STATUS_NO_MEM;
    }
    s->lockFd = fd;
    InitOptions(s);
    strcpy(s->mode, SANE_VALUE_SCAN_MODE_COLOR);
    s->resolution = 150;
    s->area[0] = SANE_FIX(0);
    s->area[1] = SANE_FIX(0);
    s->area[2] = SANE_FIX(BED_W);
    s->area[3] = SANE_FIX(BED_H);
    ReadCounters(s->seen);
    *handle = s;
    return SANE_STATUS_GOOD;
}

void sane_velmoratest_close(SANE_Handle handle) {
    Scanner* s = handle;
    if (!s)
        return;
    flock(s->lockFd, LOCK_UN);
    close(s->lockFd);
    free(s);
}

const SANE_Option_Descriptor* sane_velmoratest_get_option_descriptor(SANE_Handle handle,
                                                                     SANE_Int option) {
    Scanner* s = handle;
    if (!s || option < 0 || option >= s->optionCount)
        return NULL;
    return &s->opt[option];
}

static SANE_Word Clamp(SANE_Word v, const SANE_Range* r) {
    return v < r->min ? r->min : v > r->max ? r->max : v;
}

SANE_Status sane_velmoratest_control_option(SANE_Handle handle, SANE_Int option, SANE_Action action,
                                            void* value, SANE_Int* info) {
    Scanner* s = handle;
    if (info)
        *info = 0;
    if (!s || option < 0 || option >= s->optionCount || !value || s->scanning)
        return SANE_STATUS_INVAL;
    if (action == SANE_ACTION_GET_VALUE) {
        SANE_Word* word = value;
        switch (option) {
        case OPT_COUNT:
            *word = s->optionCount;
            return SANE_STATUS_GOOD;
        case OPT_MODE:
            strcpy(value, s->mode);
            return SANE_STATUS_GOOD;
        case OPT_RESOLUTION:
            *word = s->resolution;
            return SANE_STATUS_GOOD;
        case OPT_TL_X:
        case OPT_TL_Y:
        case OPT_BR_X:
        case OPT_BR_Y:
            *word = s->area[option - OPT_TL_X];
            return SANE_STATUS_GOOD;
        case OPT_COPY:
        case OPT_EMAIL: {
            long now[BUTTONS];
            const int k = option - OPT_COPY;
            ReadCounters(now);
            if (ButtonsHeld())
                *word = now[k] % 2 == 1 ? SANE_TRUE : SANE_FALSE;
            else
                *word = now[k] > s->seen[k] ? SANE_TRUE : SANE_FALSE;
            s->seen[k] = now[k];
            return SANE_STATUS_GOOD;
        }
        default:
            return SANE_STATUS_INVAL;
        }
    }
    if (action != SANE_ACTION_SET_VALUE)
        return SANE_STATUS_INVAL;
    switch (option) {
    case OPT_MODE: {
        int k;
        for (k = 0; modeList[k]; ++k)
            if (strcmp(value, modeList[k]) == 0) {
                strcpy(s->mode, modeList[k]);
                if (info)
                    *info = SANE_INFO_RELOAD_PARAMS;
                return SANE_STATUS_GOOD;
            }
        return SANE_STATUS_INVAL;
    }
    case OPT_RESOLUTION: {
        const SANE_Word wanted = *(SANE_Word*)value;
        SANE_Word best = resolutionList[1];
        int k;
        for (k = 1; k <= resolutionList[0]; ++k)
            if (abs(resolutionList[k] - wanted) < abs(best - wanted))
                best = resolutionList[k];
        s->resolution = best;
        if (info)
            *info = SANE_INFO_RELOAD_PARAMS | (best != wanted ? SANE_INFO_INEXACT : 0);
        return SANE_STATUS_GOOD;
    }
    case OPT_TL_X:
    case OPT_TL_Y:
    case OPT_BR_X:
    case OPT_BR_Y: {
        const SANE_Word wanted = *(SANE_Word*)value;
        const SANE_Word v = Clamp(wanted, s->opt[option].constraint.range);
        s->area[option - OPT_TL_X] = v;
        if (info)
            *info = SANE_INFO_RELOAD_PARAMS | (v != wanted ? SANE_INFO_INEXACT : 0);
        return SANE_STATUS_GOOD;
    }
    default:
        return SANE_STATUS_INVAL;
    }
}

static SANE_Int Pixels(SANE_Word from, SANE_Word to, SANE_Word dpi) {
    const double mm = SANE_UNFIX(to) - SANE_UNFIX(from);
    return mm > 0 ? (SANE_Int)(mm * dpi / 25.4) : 0;
}

SANE_Status sane_velmoratest_get_parameters(SANE_Handle handle, SANE_Parameters* params) {
    Scanner* s = handle;
    const int gray = s && strcmp(s->mode, SANE_VALUE_SCAN_MODE_GRAY) == 0;
    if (!s || !params)
        return SANE_STATUS_INVAL;
    if (!s->scanning) {
        s->params.format = gray ? SANE_FRAME_GRAY : SANE_FRAME_RGB;
        s->params.last_frame = SANE_TRUE;
        s->params.depth = 8;
        s->params.pixels_per_line = Pixels(s->area[0], s->area[2], s->resolution);
        s->params.lines = Pixels(s->area[1], s->area[3], s->resolution);
        s->params.bytes_per_line = s->params.pixels_per_line * (gray ? 1 : 3);
    }
    *params = s->params;
    return SANE_STATUS_GOOD;
}

SANE_Status sane_velmoratest_start(SANE_Handle handle) {
    Scanner* s = handle;
    SANE_Parameters p;
    if (!s || s->scanning)
        return SANE_STATUS_INVAL;
    sane_velmoratest_get_parameters(s, &p);
    if (p.pixels_per_line <= 0 || p.lines <= 0)
        return SANE_STATUS_INVAL;
    s->scanning = 1;
    s->line = 0;
    s->column = 0;
    s->left = SANE_UNFIX(s->area[0]);
    s->top = SANE_UNFIX(s->area[1]);
    return SANE_STATUS_GOOD;
}

/* Whether the pixel at bed position (x, y) in mm is part of the frame. */
static int InFrame(double x, double y) {
    const double in = FRAME_AT, out = FRAME_AT + FRAME_W;
    const int insideOuter = x >= in && x < BED_W - in && y >= in && y < BED_H - in;
    const int insideInner = x >= out && x < BED_W - out && y >= out && y < BED_H - out;
    return insideOuter && !insideInner;
}

static void PageDone(void) {
    char* path = SideFile(".scans");
    FILE* file = path ? fopen(path, "a") : NULL;
    if (file) {
        fputs("page\n", file);
        fclose(file);
    }
    free(path);
}

SANE_Status sane_velmoratest_read(SANE_Handle handle, SANE_Byte* data, SANE_Int maxLength,
                                  SANE_Int* length) {
    Scanner* s = handle;
    const SANE_Parameters* p;
    const int channels = s && s->params.format == SANE_FRAME_RGB ? 3 : 1;
    *length = 0;
    if (!s || !s->scanning)
        return SANE_STATUS_CANCELLED;
    p = &s->params;
    if (s->line >= p->lines) {
        s->scanning = 0;
        PageDone();
        return SANE_STATUS_EOF;
    }
    while (*length < maxLength && s->line < p->lines) {
        const int pixel = s->column / channels;
        const double x = s->left + (pixel + 0.5) * 25.4 / s->resolution;
        const double y = s->top + (s->line + 0.5) * 25.4 / s->resolution;
        data[(*length)++] = InFrame(x, y) ? 0 : 255;
        if (++s->column >= p->bytes_per_line) {
            s->column = 0;
            ++s->line;
        }
    }
    return SANE_STATUS_GOOD;
}

void sane_velmoratest_cancel(SANE_Handle handle) {
    Scanner* s = handle;
    if (s)
        s->scanning = 0;
}

SANE_Status sane_velmoratest_set_io_mode(SANE_Handle handle, SANE_Bool nonBlocking) {
    (void)handle;
    return nonBlocking ? SANE_STATUS_UNSUPPORTED : SANE_STATUS_GOOD;
}

SANE_Status sane_velmoratest_get_select_fd(SANE_Handle handle, SANE_Int* fd) {
    (void)handle;
    (void)fd;
    return SANE_STATUS_UNSUPPORTED;
}
