// Tests of axttjust.
