local Counter = {}
Counter.__index = Counter
function Counter:add(k) self.n = (self.n + k) % 99991 end
local function main(n)
  local c = setmetatable({n = 0}, Counter)
  for i = 0, n - 1 do c:add(i % 10) end
  return c.n
end
print(main(7000000))
