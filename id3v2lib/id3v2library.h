#pragma once
/*
 * ID3v2Library: reads the ID3v2 tag (versions 2.2, 2.3 and 2.4) at the start of a file.
 *
 * The library is a file of its own, ID3v2Library.dll on every system (a PE DLL on Windows, an ELF shared
 * object of that name on Linux), that a program loads at run time (LoadLibrary/GetProcAddress or
 * dlopen/dlsym) by the eleven names below; the ID3v2_..._Fn types are the matching function pointers.
 *
 * Calling convention: cdecl on 32-bit Windows (the names are exported undecorated), the platform's
 * default elsewhere. Every function may be called with a null handle: it then answers as for a handle
 * without a tag. No function throws or lets anything escape into the caller.
 *
 * Threads: a handle is used by one thread at a time; different handles may be used at the same time.
 *
 * Texts are answered in a single-byte code page: the system's ANSI code page on Windows, Windows-1252
 * on Linux; characters that code page cannot hold become '?'.
 *
 * Frame and picture indexes count from 0.
 */

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define ID3V2_CALL __cdecl
#if defined(ID3V2LIBRARY_BUILD)
#define ID3V2_API __declspec(dllexport)
#else
#define ID3V2_API
#endif
#else
#define ID3V2_CALL
#if defined(ID3V2LIBRARY_BUILD)
#define ID3V2_API __attribute__((visibility("default")))
#else
#define ID3V2_API
#endif
#endif

/* The file name the library is built under, on every system. */
#define ID3V2_LIBRARY_FILE_NAME "ID3v2Library.dll"

/* A tag handle: opaque, made by ID3v2_Create and released by ID3v2_Free. */
typedef struct ID3v2Tag ID3v2Tag;

/* Answers of ID3v2_Load. */
enum {
  ID3V2_OK = 0,              /* a tag was read (a tag cut short by the end of the file included) */
  ID3V2_NO_TAG = 1,          /* the file does not start with an ID3v2 tag (an empty file included) */
  ID3V2_FILE_UNREADABLE = 2, /* the file could not be opened or read; also for a null handle or path */
  ID3V2_MALFORMED = 3        /* the file starts with "ID3" but no tag header this library can read */
};

/* Answers of the picture functions: the format of the picture's bytes. */
enum {
  ID3V2_PICTURE_NONE = 0, /* no such picture, or a format other than these */
  ID3V2_PICTURE_JPEG = 1,
  ID3V2_PICTURE_PNG = 2,
  ID3V2_PICTURE_BMP = 3,
  ID3V2_PICTURE_GIF = 4
};

/* A new handle without a tag; null only when memory ran out. The caller owns it and releases it with
 * ID3v2_Free. */
ID3V2_API ID3v2Tag* ID3V2_CALL ID3v2_Create(void);

/* Reads the tag at the start of the file `path` (a native path: on Windows in the ANSI code page) into
 * `tag`, replacing what it held; on any answer but ID3V2_OK the handle is left without frames. Only
 * the tag is read, at most 64 MiB of it; frames past that, or past the end of a file shorter than its
 * tag says, are left out. Pointers answered earlier for this handle are invalid afterwards. */
ID3V2_API int ID3V2_CALL ID3v2_Load(ID3v2Tag* tag, const char* path);

/* Releases `tag` and everything it answered; a null handle is ignored. */
ID3V2_API void ID3V2_CALL ID3v2_Free(ID3v2Tag* tag);

/* The text of the first frame `frameId` ("TIT2", "TPE1", "COMM", ...), never null: "" when there is
 * no such frame or it holds no text. Text frames answer their values joined by " / "; TXXX and WXXX
 * their value after the description; COMM and USLT their text after language and description; URL
 * frames their URL. For an ID3v2.2 tag a four-character id is looked up by its three-character form
 * (TIT2 as TT2, COMM as COM, ...). The text belongs to the handle and stays valid until the next call
 * of ID3v2_GetAsciiText or ID3v2_Load on it, or ID3v2_Free. */
ID3V2_API const char* ID3V2_CALL ID3v2_GetAsciiText(ID3v2Tag* tag, const char* frameId);

/* The index-th attached picture (APIC; PIC in ID3v2.2), in two calls: with a null `buffer`, or
 * *length smaller than the picture, nothing is copied and *length is set to the picture's size;
 * otherwise the picture's bytes are copied into `buffer` (owned by the caller) and *length set to
 * their count. Answers the picture's format (ID3V2_PICTURE_...) in both cases: ID3V2_PICTURE_NONE
 * with *length 0 when there is no such picture, ID3V2_PICTURE_NONE with *length its size when its
 * format is none of the four. With a null `length` only the format is answered. */
ID3V2_API int ID3V2_CALL ID3v2_GetAlbumPictureStream(const ID3v2Tag* tag, int index, unsigned char* buffer,
                                                     unsigned int* length);

/* Writes the index-th attached picture's bytes to the file `targetPath` (a native path, replaced when
 * it exists) and answers its format as ID3v2_GetAlbumPictureStream does: a picture of none of the four
 * formats is written too and answers ID3V2_PICTURE_NONE. ID3V2_PICTURE_NONE, and no file, when there
 * is no such picture or the file cannot be written. */
ID3V2_API int ID3V2_CALL ID3v2_GetAlbumPicture(const ID3v2Tag* tag, int index, const char* targetPath);

/* The number of frames read, in the order of the tag. Compressed or encrypted frames are not read. */
ID3V2_API int ID3V2_CALL ID3v2_FrameCount(const ID3v2Tag* tag);

/* The id of frame `index` ("" when out of range). Valid until the next ID3v2_Load or ID3v2_Free. */
ID3V2_API const char* ID3V2_CALL ID3v2_GetFrameID(const ID3v2Tag* tag, int index);

/* The size in bytes of frame `index`'s data: its content after the frame header, with unsynchronisation
 * removed and a grouping byte or data length indicator left out; -1 when out of range. */
ID3V2_API int ID3V2_CALL ID3v2_GetFrameSize(const ID3v2Tag* tag, int index);

/* Copies at most `bufferSize` bytes of frame `index`'s data into `buffer` (owned by the caller);
 * answers the count copied (0 for a null buffer), or -1 when out of range. */
ID3V2_API int ID3V2_CALL ID3v2_GetFrameData(const ID3v2Tag* tag, int index, void* buffer, int bufferSize);

/* The handle's own copy of frame `index`'s data (ID3v2_GetFrameSize bytes, not to be changed or freed),
 * valid until the next ID3v2_Load or ID3v2_Free; null when out of range. */
ID3V2_API const void* ID3V2_CALL ID3v2_GetFrameDataP(const ID3v2Tag* tag, int index);

/* Function pointer types for loading the library at run time. */
typedef ID3v2Tag*(ID3V2_CALL* ID3v2_Create_Fn)(void);
typedef int(ID3V2_CALL* ID3v2_Load_Fn)(ID3v2Tag* tag, const char* path);
typedef void(ID3V2_CALL* ID3v2_Free_Fn)(ID3v2Tag* tag);
typedef const char*(ID3V2_CALL* ID3v2_GetAsciiText_Fn)(ID3v2Tag* tag, const char* frameId);
typedef int(ID3V2_CALL* ID3v2_GetAlbumPictureStream_Fn)(const ID3v2Tag* tag, int index, unsigned char* buffer,
                                                        unsigned int* length);
typedef int(ID3V2_CALL* ID3v2_GetAlbumPicture_Fn)(const ID3v2Tag* tag, int index, const char* targetPath);
typedef int(ID3V2_CALL* ID3v2_FrameCount_Fn)(const ID3v2Tag* tag);
typedef const char*(ID3V2_CALL* ID3v2_GetFrameID_Fn)(const ID3v2Tag* tag, int index);
typedef int(ID3V2_CALL* ID3v2_GetFrameSize_Fn)(const ID3v2Tag* tag, int index);
typedef int(ID3V2_CALL* ID3v2_GetFrameData_Fn)(const ID3v2Tag* tag, int index, void* buffer, int bufferSize);
typedef const void*(ID3V2_CALL* ID3v2_GetFrameDataP_Fn)(const ID3v2Tag* tag, int index);

#ifdef __cplusplus
}
#endif
