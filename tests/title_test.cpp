// Tests of title.
