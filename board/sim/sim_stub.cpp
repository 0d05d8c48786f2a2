#include "board.h"
int BOARD_CALL cbDeclareRevision(float *) { return 0; }
int BOARD_CALL cbErrHandling(int, int) { return 0; }
int BOARD_CALL cbFromEngUnits(int, int, float, std::uint16_t *raw) { *raw = 32768; return 0; }
int BOARD_CALL cbAOut(int, int, int, std::uint16_t) { return 0; }
int BOARD_CALL cbAInScan(int, int, int, std::int32_t, std::int32_t *, int, void *, int) { return 0; }
int BOARD_CALL cbGetStatus(int, std::int16_t *s, std::int32_t *c, std::int32_t *i) { *s = 0; *c = 0; *i = -1; return 0; }
int BOARD_CALL cbStopBackground(int) { return 0; }
