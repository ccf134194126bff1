local t = {}
for i = 1, 2000000 do t[#t + 1] = "ab" end
local s = table.concat(t)
