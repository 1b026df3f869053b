# Comments and string lines: a countdown.
# A line that starts with a percent sign prints the rest of the line as it is.
%Countdown:
++++++++++.                  # cell 0: a line end (10), printed after the title
>+++++++[>++++++++<-]>+      # cell 2: the digit 9 (57)
>++++++++++                  # cell 3: ten turns
>>++++[<++++++++>-]<         # cell 4: a space (32)
<[<.->>.<-]                  # each turn: the digit, one less, a space
<<<.                         # a line end
%Liftoff!
.
