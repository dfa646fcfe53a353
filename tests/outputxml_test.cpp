// Tests of outputxml.
