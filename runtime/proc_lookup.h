#pragma once
// Finds a process by its command name (the text between the first "(" and
// the last ")" of /proc/<pid>/stat). The hint is tried first, so a caller
// that remembers the last pid finds it again without a scan; otherwise the
// first match in /proc's directory order wins. Returns -1 when none matches.
int find_proc_by_name(const char* name, int hint);
