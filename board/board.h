// The board library calls aoplay makes. On a bench machine these come from the vendor's
// cbw32.dll; everywhere else the simulated board in board/sim provides them under the same names.
#ifndef AOPLAY_BOARD_H
#define AOPLAY_BOARD_H

#include <cstdint>

// The vendor library is a Windows system DLL: its calls use the system calling convention,
// which only means something to a 32-bit x86 build.
#if defined(_WIN32)
#define BOARD_CALL __stdcall
#else
#define BOARD_CALL
#endif

// When the simulated board is built as a DLL its calls are exported; users import them.
#if defined(_WIN32) && defined(BOARDSIM_BUILDING_DLL)
#define BOARD_API __declspec(dllexport)
#elif defined(_WIN32) && defined(BOARDSIM_USING_DLL)
#define BOARD_API __declspec(dllimport)
#else
#define BOARD_API
#endif

extern "C" {

// Every call returns a result code: 0 for no error.
BOARD_API int BOARD_CALL cbDeclareRevision(float *revision);
BOARD_API int BOARD_CALL cbErrHandling(int reporting, int handling);
BOARD_API int BOARD_CALL cbFromEngUnits(int board, int range, float value, std::uint16_t *raw);
BOARD_API int BOARD_CALL cbAOut(int board, int channel, int range, std::uint16_t raw);
BOARD_API int BOARD_CALL cbAInScan(int board, int low_channel, int high_channel, std::int32_t count,
                                   std::int32_t *rate, int range, void *buffer, int options);
BOARD_API int BOARD_CALL cbGetStatus(int board, std::int16_t *status, std::int32_t *count,
                                     std::int32_t *index);
BOARD_API int BOARD_CALL cbStopBackground(int board);
}

#endif
