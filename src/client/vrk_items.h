// Item splitters: cutting option arguments and backup sources into NULL-ended
// tables of heap strings, and trimming backup source items.
#ifndef VRK_CLIENT_VRK_ITEMS_H
#define VRK_CLIENT_VRK_ITEMS_H

// Appends the pieces of cpText cut at every cSep after the table's first NULL
// entry; returns the total number of entries, iMax + 1 when the table is full
// (the rest is dropped and entry iMax is NULL), or -1 when memory runs out.
// The table needs iMax + 1 entries.
int vrk_parse_item(char **cpItem, const char *cpText, char cSep, int iMax);

// Cuts cpText at every occurrence of cpDelim into entries from 0 on; returns
// the count, or -1 on bad input, too many pieces (count >= iMax) or no memory.
int vrk_parse_item_str_delim(char **cpItem, const char *cpText, const char *cpDelim, int iMax);

// As vrk_parse_item_str_delim, protecting drive names when cpDelim is ":".
int vrk_parse_item_str_delim_save_drv_name(char **cpItem, const char *cpText,
                                           const char *cpDelim, int iMax);

// Cuts at cSep from entry 0 on, with double-quoted pieces; at most iMax pieces.
int vrk_find_parse_item(char **cpItem, const char *cpText, char cSep, int iMax);

// Builds backup source items from argv[*piFirst..iArgc) into cpItem from
// index *piNext on (comma-run rule); 0, or -1 on too many items, an argument
// of 4096 characters or more, or no memory.
int ProcessBackupSource(int *piFirst, int iArgc, int *piNext, char **argv, char **cpItem);

// Strips leading and trailing blanks of every item from iFirst on.
void TrimAllBackupSourceItems(int iFirst, char **cpItem);

#endif
