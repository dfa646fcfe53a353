// Tests of data.
