// Tests of outputcsv.
